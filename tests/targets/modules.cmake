# Module-facts probes: the same small DLL with two translations in its version
# resource, with string tables but no translation table, and with no resource.
korvane_test_target(fact_two_languages DLL SOURCES modules_fact_probe.cpp modules_two_languages.rc)
korvane_test_target(fact_no_translation DLL SOURCES modules_fact_probe.cpp modules_no_translation.rc)
korvane_test_target(fact_no_version DLL SOURCES modules_fact_probe.cpp)
korvane_test_target(modules_run SOURCES modules_run.cpp)
korvane_test_target(modules_child SOURCES modules_child.cpp)
korvane_test_target(child_helper DLL SOURCES plain_helper.cpp)
# Loads every DLL beside it: the runs over DLLs whose version resources lie.
korvane_test_target(loads_folder_dlls SOURCES loads_folder_dlls.cpp)
korvane_test_target(modules_replaced SOURCES modules_replaced.cpp)
