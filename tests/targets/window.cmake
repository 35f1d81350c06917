# The program that the window tests choose in the file dialog, and the second
# copy of plain_helper.dll (other folder, name in other case) that it loads.
korvane_test_target(window_target SOURCES window_target.cpp window_target.rc)
add_custom_command(TARGET target_window_target POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KORVANE_TARGETS_DIR}/window_twin
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:target_plain_helper> ${KORVANE_TARGETS_DIR}/window_twin/PLAIN_HELPER.DLL)
add_dependencies(target_window_target target_plain_helper)
