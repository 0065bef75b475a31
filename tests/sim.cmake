# The simulated device, driven over raw loopback sockets.
if(TARGET ormi_sim)
  ormi_add_gtest(sim_test
    SOURCES sim_login_test.cpp sim_parameters_test.cpp sim_upload_test.cpp sim_faults_test.cpp
    LIBS ormi_sim TIMEOUT 120)
endif()
