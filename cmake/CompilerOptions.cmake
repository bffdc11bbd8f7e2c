# Warnings are errors everywhere; sanitizers on demand for the CI's second build.
add_compile_options(-Wall -Wextra -Werror -Wpedantic)

if(SELAVIA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
