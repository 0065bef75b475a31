if(TARGET ormi_control_static AND TARGET ormi_sim)
  ormi_add_gtest(login_test SOURCES login_test.cpp LIBS ormi_control_static ormi_sim TIMEOUT 60)
  if(WIN32)
    # Binds the shipped DLL at run time, as the updater does.
    ormi_add_gtest(login_dll_test SOURCES login_dll_test.cpp LIBS ormi_sim TIMEOUT 60)
    add_dependencies(login_dll_test ormi_control)
  endif()
endif()
