# Targets of the debug loop's runs: every kind of event, a crash named by its
# function, parents and children ending in either order, and a DLL that comes
# back at another address.
korvane_test_target(trace_events SOURCES trace_events.cpp)
korvane_test_target(crash_helper DLL DWARF SOURCES crash_helper.cpp)
korvane_test_target(crash_in_dll SOURCES crash_in_dll.cpp)
korvane_test_target(leaves_child SOURCES leaves_child.cpp)
korvane_test_target(sleeps_then_exits SOURCES sleeps_then_exits.cpp)
korvane_test_target(quick_exit SOURCES quick_exit.cpp)
korvane_test_target(waits_then_marks SOURCES waits_then_marks.cpp)
korvane_test_target(reload_elsewhere SOURCES reload_elsewhere.cpp)
# A DLL whose file is away when its symbols are first asked for, and a target
# that tells the error mode it was started with.
korvane_test_target(symbols_retry SOURCES symbols_retry.cpp)
add_dependencies(target_symbols_retry target_crash_helper)
korvane_test_target(error_mode_probe SOURCES error_mode_probe.cpp)
# Two DLLs, one after the other at one address, with a breakpoint at the same
# place in functions of different names.
foreach(which first second)
    string(TOUPPER ${which} upper)
    korvane_test_target(same_base_${which} DLL SOURCES same_base_dll.cpp)
    target_compile_definitions(target_same_base_${which} PRIVATE SAME_BASE_FUNCTION=SameBase${upper})
    target_link_options(target_same_base_${which} PRIVATE -Wl,--image-base=0x3f0000000)
endforeach()
korvane_test_target(same_base SOURCES same_base.cpp)
add_dependencies(target_same_base target_same_base_first target_same_base_second)
