# Targets of the static import check, each a start that the loader refuses for
# one reason found in the files: a DLL that imports one found nowhere, a DLL
# that lacks a function (and an ordinal) that the program imports, and a 32-bit
# DLL beside a 64-bit program. The DLLs are tiny (no C runtime). What a program
# was linked against but must not find is built into not_placed/.
set(KORVANE_NOT_PLACED_DIR ${KORVANE_TARGETS_DIR}/not_placed)

function(korvane_tiny_dll name entry)
    korvane_test_target(${name} DLL ${ARGN})
    target_compile_options(target_${name} PRIVATE -fno-asynchronous-unwind-tables)
    target_link_options(target_${name} PRIVATE -nostdlib -s -Wl,--entry=${entry})
endfunction()

function(korvane_not_placed name)
    set_target_properties(target_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KORVANE_NOT_PLACED_DIR}
                          ARCHIVE_OUTPUT_DIRECTORY ${KORVANE_NOT_PLACED_DIR}/lib)
endfunction()

# imports_missing_dll.exe -> imports_chain.dll -> imports_absent.dll (found nowhere).
korvane_tiny_dll(imports_absent TinyDllEntry SOURCES imports_absent.cpp)
korvane_not_placed(imports_absent)
korvane_tiny_dll(imports_chain TinyDllEntry SOURCES imports_chain.cpp LIBS target_imports_absent)
korvane_test_target(imports_missing_dll SOURCES imports_missing_dll.cpp LIBS target_imports_chain)

# imports_lacking.exe was linked against a DLL exporting LackingKept, LackingGone
# and ordinal 7; the imports_lacking.dll beside it exports LackingKept only.
korvane_tiny_dll(imports_lacking_full TinyDllEntry SOURCES imports_lacking_dll.cpp imports_lacking_full.def)
set_target_properties(target_imports_lacking_full PROPERTIES OUTPUT_NAME imports_lacking)
korvane_not_placed(imports_lacking_full)
korvane_tiny_dll(imports_lacking_dll TinyDllEntry SOURCES imports_lacking_dll.cpp imports_lacking.def)
set_target_properties(target_imports_lacking_dll PROPERTIES OUTPUT_NAME imports_lacking)
korvane_test_target(imports_lacking SOURCES imports_lacking.cpp LIBS target_imports_lacking_full)

# imports_wrong_machine.exe (x64) imports imports_machine.dll; the one beside it
# is built for i386 by the 32-bit MinGW-w64 compiler from the same source.
korvane_tiny_dll(imports_machine_x64 MachineEntry SOURCES imports_machine.cpp)
set_target_properties(target_imports_machine_x64 PROPERTIES OUTPUT_NAME imports_machine)
korvane_not_placed(imports_machine_x64)
korvane_test_target(imports_wrong_machine SOURCES imports_wrong_machine.cpp LIBS target_imports_machine_x64)
find_program(KORVANE_I686_CXX i686-w64-mingw32-g++-posix REQUIRED)
set(machine_source ${CMAKE_CURRENT_SOURCE_DIR}/imports_machine.cpp)
add_custom_command(OUTPUT ${KORVANE_TARGETS_DIR}/imports_machine.dll
    COMMAND ${KORVANE_I686_CXX} -shared -O2 -fno-asynchronous-unwind-tables -nostdlib -s
            -Wl,--entry=_MachineEntry@12 ${machine_source} -o ${KORVANE_TARGETS_DIR}/imports_machine.dll
    DEPENDS ${machine_source} VERBATIM)
add_custom_target(target_imports_machine_i386 DEPENDS ${KORVANE_TARGETS_DIR}/imports_machine.dll)
add_dependencies(korvane_test_targets target_imports_machine_i386)

# imports_delay_missing.exe delay-loads imports_delay_absent.dll, named only by
# a .def file; the delay library comes from dlltool, and the delay-import
# directory that GNU ld leaves empty is pointed at its descriptor after the link.
set(delay_library ${KORVANE_NOT_PLACED_DIR}/lib/libimports_delay_absent_delay.a)
find_program(KORVANE_DLLTOOL x86_64-w64-mingw32-dlltool REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(OUTPUT ${delay_library}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVANE_NOT_PLACED_DIR}/lib
    COMMAND ${KORVANE_DLLTOOL} --input-def ${CMAKE_CURRENT_SOURCE_DIR}/imports_delay_absent.def
            --dllname imports_delay_absent.dll --output-delaylib ${delay_library}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/imports_delay_absent.def VERBATIM)
add_custom_target(target_imports_delay_library DEPENDS ${delay_library})
korvane_test_target(imports_delay_missing SOURCES imports_delay_missing.cpp LIBS ${delay_library})
add_dependencies(target_imports_delay_missing target_imports_delay_library)
add_custom_command(TARGET target_imports_delay_missing POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/point_delay_directory.py
            $<TARGET_FILE:target_imports_delay_missing> ${CMAKE_NM} VERBATIM)

# imports_api_set_absent.exe imports api-ms-win-korvane-absent-l1-1-0.dll, named
# only by a .def file: an API set that no schema holds and no folder has.
set(api_set_library ${KORVANE_NOT_PLACED_DIR}/lib/libimports_api_set_absent.a)
add_custom_command(OUTPUT ${api_set_library}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVANE_NOT_PLACED_DIR}/lib
    COMMAND ${KORVANE_DLLTOOL} --input-def ${CMAKE_CURRENT_SOURCE_DIR}/imports_api_set_absent.def
            --output-lib ${api_set_library}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/imports_api_set_absent.def VERBATIM)
add_custom_target(target_imports_api_set_library DEPENDS ${api_set_library})
korvane_test_target(imports_api_set_absent SOURCES imports_api_set_absent.cpp LIBS ${api_set_library})
add_dependencies(target_imports_api_set_absent target_imports_api_set_library)

# The 32-bit images that the import check's test lays out as a machine holds
# them, in wow32/ (wow32_system.dll also for x64, in wow32/x64/). GNU ld links
# the program against the DLLs themselves.
set(wow32_dir ${KORVANE_TARGETS_DIR}/wow32)
set(wow32_source ${CMAKE_CURRENT_SOURCE_DIR}/wow32_images.cpp)
set(wow32_flags -O2 -fno-asynchronous-unwind-tables -nostdlib -s)
set(wow32_dll_flags ${wow32_flags} -shared -Wl,--entry=_WowEntry@12)
add_custom_command(OUTPUT ${wow32_dir}/not_placed/wow32_absent.dll ${wow32_dir}/wow32_chain.dll
                          ${wow32_dir}/wow32_system.dll ${wow32_dir}/wow32_program.exe ${wow32_dir}/x64/wow32_system.dll
    COMMAND ${CMAKE_COMMAND} -E make_directory ${wow32_dir}/not_placed ${wow32_dir}/x64
    COMMAND ${KORVANE_I686_CXX} ${wow32_dll_flags} -DWOW32_ABSENT ${wow32_source} -o ${wow32_dir}/not_placed/wow32_absent.dll
    COMMAND ${KORVANE_I686_CXX} ${wow32_dll_flags} -DWOW32_CHAIN ${wow32_source}
            ${wow32_dir}/not_placed/wow32_absent.dll -o ${wow32_dir}/wow32_chain.dll
    COMMAND ${KORVANE_I686_CXX} ${wow32_dll_flags} -DWOW32_SYSTEM ${wow32_source} -o ${wow32_dir}/wow32_system.dll
    COMMAND ${KORVANE_I686_CXX} ${wow32_flags} -Wl,--entry=_Start -DWOW32_PROGRAM ${wow32_source}
            ${wow32_dir}/wow32_chain.dll ${wow32_dir}/wow32_system.dll ${KORVANE_TARGETS_DIR}/imports_machine.dll
            -o ${wow32_dir}/wow32_program.exe
    COMMAND ${CMAKE_CXX_COMPILER} ${wow32_flags} -shared -Wl,--entry=WowEntry -DWOW32_SYSTEM ${wow32_source}
            -o ${wow32_dir}/x64/wow32_system.dll
    DEPENDS ${wow32_source} ${KORVANE_TARGETS_DIR}/imports_machine.dll VERBATIM)
add_custom_target(target_wow32_images DEPENDS ${wow32_dir}/wow32_program.exe)
add_dependencies(korvane_test_targets target_wow32_images)
