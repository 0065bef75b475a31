# The x86 DLL's calling convention, measured from the caller's side.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND TARGET ormi_control AND TARGET ormi_sim)
  ormi_add_gtest(control_stdcall_test SOURCES control_stdcall_test.cpp LIBS ormi_sim TIMEOUT 60)
  add_dependencies(control_stdcall_test ormi_control)
endif()
