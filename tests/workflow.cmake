# Update workflow tests: the pure text routines on every platform; the whole
# workflow through the updater's window against the simulated device (Windows).
ormi_add_gtest(workflow_format_test SOURCES workflow_format_test.cpp LIBS ormi_common TIMEOUT 60)

if(WIN32 AND TARGET ORMI_updater AND TARGET ormi_windriver AND TARGET ormi_control)
  ormi_add_gtest(workflow_window_test SOURCES workflow_window_test.cpp
                 LIBS ormi_windriver ormi_sim comctl32 TIMEOUT 240)
  # The one program that lives through a whole reboot of 80 seconds.
  ormi_add_gtest(workflow_update_test SOURCES workflow_update_test.cpp
                 LIBS ormi_windriver ormi_sim ormi_common comctl32 TIMEOUT 200)
  # Three updaters and devices side by side through one reboot of 80 seconds.
  ormi_add_gtest(workflow_reboot_test SOURCES workflow_reboot_test.cpp
                 LIBS ormi_windriver ormi_sim ormi_common comctl32 TIMEOUT 240)
  foreach(program workflow_window_test workflow_update_test workflow_reboot_test)
    add_dependencies(${program} ORMI_updater ormi_control)
  endforeach()
  # Runs a debug monitor; see control_debug_test.
  set_tests_properties(workflow_window_test PROPERTIES RUN_SERIAL TRUE)
  # Packages signed by openssl (tests/sig.cmake).
  set_tests_properties(workflow_window_test workflow_update_test PROPERTIES FIXTURES_REQUIRED sig_files)
endif()

# Drives a whole update for scripts/demo when there is no display.
if(WIN32 AND TARGET ormi_windriver)
  add_executable(workflow_demo workflow_demo.cpp)
  target_link_libraries(workflow_demo PRIVATE ormi_windriver)
endif()
