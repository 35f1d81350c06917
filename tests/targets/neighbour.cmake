# A program shipped without a DLL it imports, which lies only in the folder
# beside it (neighbour/): started normally it ends with 0xC0000135, and a
# program that finds a DLL only in its current folder, as in a plain start.
korvane_tiny_dll(neighbour TinyDllEntry SOURCES neighbour_dll.cpp)
set_target_properties(target_neighbour PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KORVANE_TARGETS_DIR}/neighbour
                      ARCHIVE_OUTPUT_DIRECTORY ${KORVANE_TARGETS_DIR}/neighbour/lib)
korvane_test_target(lacks_neighbour SOURCES lacks_neighbour.cpp LIBS target_neighbour)
korvane_test_target(loads_from_current SOURCES loads_from_current.cpp)
