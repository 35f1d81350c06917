# Targets of the verdict's runs: a DLL refusing its initialisation loaded while
# the program runs on, a DLL raising an access violation in its DllMain and a
# program importing it, a program that sets a hardware breakpoint of its own
# before it loads a DLL, and a DLL whose DllMain loads another DLL.
korvane_test_target(loads_init_fails SOURCES loads_init_fails.cpp)
korvane_test_target(init_crashes DLL SOURCES init_crashes.cpp)
korvane_test_target(imports_init_crashes SOURCES imports_init_crashes.cpp LIBS target_init_crashes)
korvane_test_target(own_breakpoint SOURCES own_breakpoint.cpp)
# A program that starts and exits 0 (the sample of that name).
korvane_test_target(starts_fine SOURCES ${CMAKE_SOURCE_DIR}/samples/starts_fine.cpp)
korvane_test_target(nested_init DLL SOURCES nested_init.cpp)
korvane_test_target(imports_nested_init SOURCES imports_nested_init.cpp LIBS target_nested_init)
# TLS callbacks: one that is also the DLL's entry point (built without the C
# runtime), one that raises an access violation; a DLL that handles an
# exception of its own inside DllMain before its program crashes; a program of
# more than twenty system DLLs; a program whose last-created child ends while
# it loads DLLs.
korvane_test_target(tls_entry DLL SOURCES tls_entry.c)
target_link_options(target_tls_entry PRIVATE -nostdlib -nostartfiles -Wl,--entry,TlsEntry)
target_link_libraries(target_tls_entry PRIVATE kernel32)
korvane_test_target(imports_tls_entry SOURCES imports_tls_entry.cpp LIBS target_tls_entry)
korvane_test_target(tls_crashes DLL SOURCES tls_crashes.cpp)
korvane_test_target(imports_tls_crashes SOURCES imports_tls_crashes.cpp LIBS target_tls_crashes)
korvane_test_target(init_handles DLL SOURCES init_handles.cpp)
korvane_test_target(imports_init_handles SOURCES imports_init_handles.cpp LIBS target_init_handles)
korvane_test_target(twenty_dlls SOURCES twenty_dlls.cpp
    LIBS comctl32 comdlg32 ws2_32 winmm version shlwapi crypt32 setupapi wininet imm32 uxtheme psapi iphlpapi
         secur32 winspool userenv netapi32 ole32 oleaut32 shell32 advapi32 gdi32 user32)
korvane_test_target(loads_while_child_exits SOURCES loads_while_child_exits.cpp)
add_dependencies(target_loads_while_child_exits target_quick_exit target_plain_helper)
# A DLL whose entry point lies in a section shared between processes.
korvane_test_target(shared_entry DLL SOURCES shared_entry.c)
target_link_options(target_shared_entry PRIVATE -nostdlib -nostartfiles -Wl,--entry,SharedEntry)
korvane_test_target(imports_shared_entry SOURCES imports_shared_entry.cpp LIBS target_shared_entry)
# DLLs refusing their initialisation for a reason their thread shows: a load
# that found nothing (with debug output), the last error set to access denied.
korvane_test_target(refuses_missing DLL SOURCES refuses_missing.cpp)
korvane_test_target(imports_refuses_missing SOURCES imports_refuses.cpp LIBS target_refuses_missing)
korvane_test_target(refuses_denied DLL SOURCES refuses_denied.cpp)
korvane_test_target(imports_refuses_denied SOURCES imports_refuses.cpp LIBS target_refuses_denied)
target_compile_definitions(target_imports_refuses_denied PRIVATE REFUSES_DENIED)
