# Planted copies of dbghelp.dll and version.dll (each writes a marker file
# beside itself when loaded), and a program that imports both the unprotected
# way, statically, as a program does that takes no care where its DLLs come from.
korvane_test_target(planted_version DLL SOURCES planted_dll.cpp planted_version.def)
korvane_test_target(planted_dbghelp DLL SOURCES planted_dll.cpp planted_dbghelp.def)
set_target_properties(target_planted_version PROPERTIES OUTPUT_NAME version RUNTIME_OUTPUT_DIRECTORY ${KORVANE_TARGETS_DIR}/planted)
set_target_properties(target_planted_dbghelp PROPERTIES OUTPUT_NAME dbghelp RUNTIME_OUTPUT_DIRECTORY ${KORVANE_TARGETS_DIR}/planted)
korvane_test_target(unprotected_imports SOURCES unprotected_imports.cpp LIBS version dbghelp)
