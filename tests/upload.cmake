ormi_add_gtest(upload_test SOURCES upload_test.cpp LIBS ormi_control_static ormi_sim TIMEOUT 180)
