# The simulated device, driven over raw loopback sockets.
if(TARGET ormi_sim)
  ormi_add_gtest(sim_test
    SOURCES sim_login_test.cpp sim_parameters_test.cpp sim_upload_test.cpp sim_faults_test.cpp
    LIBS ormi_sim TIMEOUT 120)
endif()
if(TARGET ormi-sim)
  ormi_add_gtest(sim_cli_test SOURCES sim_cli_test.cpp LIBS ormi_sim TIMEOUT 60)
  if(WIN32)
    # Found next to the test program; a Unix path would not do under Wine.
    target_compile_definitions(sim_cli_test PRIVATE ORMI_SIM_PATH="$<TARGET_FILE_NAME:ormi-sim>")
  else()
    target_compile_definitions(sim_cli_test PRIVATE ORMI_SIM_PATH="$<TARGET_FILE:ormi-sim>")
  endif()
  add_dependencies(sim_cli_test ormi-sim)
endif()
