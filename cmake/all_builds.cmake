# The `all` and `ci` presets (cmake --workflow --preset test, or ci): no build of their own. They
# configure the native, Windows and web builds from their own presets, each in its own tree, build
# them one after another (each on every core), and gather every suite into one CTest run: the
# native and GIMP tests, the Windows tests under Wine in their session, and the web page's tests
# under Node and in headless Chromium, which compare with the native build.
option(MOXEL_BENCHMARKS "Build the benchmarks in bench/ too (Google Benchmark, Cairo)" OFF)

# The 32-bit MOXEL.dll's tests run wherever 32-bit programs start, natively or through QEMU user
# mode; only where neither works does the 64-bit build of the same sources stand in for them.
set(windows_builds win32)
execute_process(COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/with-i386.sh --check
                OUTPUT_QUIET RESULT_VARIABLE no_i386)
if(no_i386)
    message(WARNING "32-bit programs cannot start on this machine, natively or through QEMU user "
                    "mode: the Windows tests run on the 64-bit build (win64), and the 32-bit "
                    "MOXEL.dll is only read from its file. __stdcall, its decorated exports and "
                    "the 32-bit address space go UNTESTED.")
    list(APPEND windows_builds win64)
endif()

set(previous "")
set(suites "")
foreach(preset native ${windows_builds} wasm)
    set(options "")
    if(NOT preset STREQUAL "wasm")
        set(options -DMOXEL_BENCHMARKS=${MOXEL_BENCHMARKS})
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} --preset ${preset} ${options}
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} COMMAND_ERROR_IS_FATAL ANY)
    # Each build runs its own make on CMAKE_BUILD_PARALLEL_LEVEL jobs, not this one's jobserver.
    add_custom_target(build_${preset} ALL
        COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS --unset=MAKELEVEL
                ${CMAKE_COMMAND} --build --preset ${preset}
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} USES_TERMINAL VERBATIM)
    if(previous)
        add_dependencies(build_${preset} build_${previous})
    endif()
    set(previous ${preset})
    string(APPEND suites "subdirs(\"${CMAKE_SOURCE_DIR}/build/${preset}\")\n")
endforeach()

file(WRITE ${CMAKE_BINARY_DIR}/suites.cmake "${suites}")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/suites.cmake)
enable_testing()
