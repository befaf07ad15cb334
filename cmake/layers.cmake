# moxel_expose(target folder): lets users of `target` include "folder/..." and nothing else of the
# folder's parent. Each layer exposes its folder through an include root of its own that holds
# nothing else, so an include that reaches up or across the layers fails to build.
function(moxel_expose target folder)
    set(root ${CMAKE_CURRENT_BINARY_DIR}/include-roots/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${root})
    else()
        target_include_directories(${target} PUBLIC ${root})
    endif()
endfunction()
