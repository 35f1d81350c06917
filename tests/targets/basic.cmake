# Targets of the first runs: a DLL round trip with debug strings and a handled
# exception, a parent of a child process, and a start that fails with 0xC0000142.
korvane_test_target(plain_helper DLL SOURCES plain_helper.cpp)
korvane_test_target(trace_basic SOURCES trace_basic.cpp)
korvane_test_target(spawn_child SOURCES spawn_child.cpp)
korvane_test_target(init_fails DLL SOURCES init_fails.cpp)
korvane_test_target(imports_init_fails SOURCES imports_init_fails.cpp LIBS target_init_fails)
korvane_test_target(dotnet_host_fails SOURCES dotnet_host_fails.cpp)
