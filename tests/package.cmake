# The package check that ormi and the updater share.
if(TARGET ormi_package)
  ormi_add_gtest(package_check_test SOURCES package_check_test.cpp LIBS ormi_package TIMEOUT 60)
endif()
