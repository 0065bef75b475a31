# The control library's frame, settings and device transport.
if(TARGET ormi_control_static)
  ormi_add_gtest(control_settings_test SOURCES control_settings_test.cpp LIBS ormi_control_static TIMEOUT 60)
endif()
if(TARGET ormi_control_static AND TARGET ormi_sim)
  ormi_add_gtest(control_transport_test SOURCES control_transport_test.cpp
                 LIBS ormi_control_static ormi_sim TIMEOUT 120)
endif()
