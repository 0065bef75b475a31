ormi_add_gtest(md5_test SOURCES md5_test.cpp LIBS ormi_common TIMEOUT 60)
