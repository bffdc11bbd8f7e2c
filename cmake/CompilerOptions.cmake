# Warnings everywhere; turned into errors for development and CI builds
# (tools/bootstrap sets SELAVIA_WERROR), never forced on a packager's build,
# whose compiler may warn about things ours does not.
option(SELAVIA_WERROR "Treat compiler warnings as errors" OFF)
add_compile_options(-Wall -Wextra -Wpedantic)
if(SELAVIA_WERROR)
    add_compile_options(-Werror)
endif()

if(SELAVIA_SANITIZE)
    # -O1 and line tables: what the sanitizers' reports need, at under half
    # the compile time of -O2 with full debug information.
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined -O1 -g1)
    add_link_options(-fsanitize=address,undefined)
endif()
