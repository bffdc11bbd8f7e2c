# The program's own file type as its MIME package declares it
# (packaging/selavia-signed.xml), compiled in for a machine where the package
# is not installed: the package stays the one owner of the type's name,
# pattern and Portuguese description.
#   selavia_signed_file_type(SOURCE_ROOT OUTPUT_HEADER)
function(selavia_signed_file_type root header)
    set(package ${root}/packaging/selavia-signed.xml)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${package})
    file(READ ${package} xml)
    string(REGEX MATCH "<mime-type type=\"([^\"]+)\"" found "${xml}")
    set(SELAVIA_SIGNED_MIME_TYPE "${CMAKE_MATCH_1}")
    string(REGEX MATCH "<glob pattern=\"\\*\\.([^\"]+)\"" found "${xml}")
    set(SELAVIA_SIGNED_SUFFIX "${CMAKE_MATCH_1}")
    string(REGEX MATCH "<comment xml:lang=\"pt_BR\">([^<]+)</comment>" found "${xml}")
    set(SELAVIA_SIGNED_TYPE_NAME "${CMAKE_MATCH_1}")
    if(NOT SELAVIA_SIGNED_MIME_TYPE OR NOT SELAVIA_SIGNED_SUFFIX OR NOT SELAVIA_SIGNED_TYPE_NAME)
        message(FATAL_ERROR "${package}: no type, *.ext pattern or pt_BR comment found")
    endif()
    configure_file(${root}/cmake/SignedFileType.h.in ${header} @ONLY)
endfunction()
