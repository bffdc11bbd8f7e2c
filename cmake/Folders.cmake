# Each library sees only the source folders it may include: its own and,
# through what it links, those of the libraries it depends on. The include
# texts stay "verify/X.h", "platform/signature/X.h", ...: every library gets a
# folder of its own in the build tree holding a link to its source folder
# under that name, and exports only that folder. An include that climbs
# against the dependencies then fails to compile.
#   selavia_export_folder(TARGET FOLDER)   FOLDER relative to the source root
function(selavia_export_folder target folder)
    set(root ${CMAKE_BINARY_DIR}/include/${target})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${root})
    else()
        target_include_directories(${target} PUBLIC ${root})
    endif()
endfunction()
