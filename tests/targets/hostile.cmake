# Targets of the hostile runs: one debuggee misbehaving in the way its file name
# says, a tiny DLL without C runtime to be copied thousands of times, and a
# process whose parameters claim more than their buffers hold.
korvane_test_target(hostile SOURCES hostile.cpp)
korvane_test_target(hostile_dll DLL SOURCES hostile_dll.cpp)
target_link_options(target_hostile_dll PRIVATE -nostdlib -s -Wl,--entry=HostileDllEntry)
target_link_libraries(target_hostile_dll PRIVATE kernel32)
korvane_test_target(hostile_params SOURCES hostile_params.cpp)
