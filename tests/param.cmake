ormi_add_gtest(param_test SOURCES param_test.cpp LIBS ormi_control_static ormi_sim TIMEOUT 120)
