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
