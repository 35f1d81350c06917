# Targets of the machine description: a process that waits to be killed, with a
# version description, for the process inventory.
korvane_test_target(idle_wait SOURCES idle_wait.cpp idle_wait.rc)
