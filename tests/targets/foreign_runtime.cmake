# foreign_runtime/foreign_runtime.exe, a 64-bit program shipped with the shared
# C++ runtime whose libwinpthread-1.dll is the 32-bit one: libstdc++-6.dll and
# libgcc_s_seh-1.dll both import it. Built by the compiler itself, outside the
# project's static link.
find_program(KORVANE_I686_CXX i686-w64-mingw32-g++-posix REQUIRED)
set(foreign_dir ${KORVANE_TARGETS_DIR}/foreign_runtime)
set(foreign_source ${CMAKE_CURRENT_SOURCE_DIR}/foreign_runtime.cpp)
function(korvane_runtime_file compiler name variable)
    execute_process(COMMAND ${compiler} -print-file-name=${name} OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(path ${path} ABSOLUTE)
    if(NOT EXISTS ${path})
        message(FATAL_ERROR "${name} of ${compiler} not found")
    endif()
    set(${variable} ${path} PARENT_SCOPE)
endfunction()
korvane_runtime_file(${CMAKE_CXX_COMPILER} libstdc++-6.dll foreign_libstdcxx)
korvane_runtime_file(${CMAKE_CXX_COMPILER} libgcc_s_seh-1.dll foreign_libgcc)
korvane_runtime_file(${KORVANE_I686_CXX} libwinpthread-1.dll foreign_winpthread32)
add_custom_command(OUTPUT ${foreign_dir}/foreign_runtime.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${foreign_dir}
    COMMAND ${CMAKE_CXX_COMPILER} -O2 -shared-libgcc ${foreign_source} -o ${foreign_dir}/foreign_runtime.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${foreign_libstdcxx} ${foreign_libgcc} ${foreign_winpthread32} ${foreign_dir}
    DEPENDS ${foreign_source} VERBATIM)
add_custom_target(target_foreign_runtime DEPENDS ${foreign_dir}/foreign_runtime.exe)
add_dependencies(korvane_test_targets target_foreign_runtime)
