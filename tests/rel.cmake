# Reliability: request texts and the clear password, the fault matrix of
# every export against every device fault, and a soak of many calls.
if(TARGET ormi_control_static AND TARGET ormi_sim)
  ormi_add_gtest(rel_requests_test SOURCES rel_requests_test.cpp
                 LIBS ormi_control_static ormi_sim TIMEOUT 120)
endif()
if(TARGET ormi_control_static AND TARGET ormi_sim)
  ormi_add_gtest(rel_faults_test SOURCES rel_faults_test.cpp
                 LIBS ormi_control_static ormi_sim TIMEOUT 180)
endif()
if(TARGET ormi_control_static AND TARGET ormi_sim)
  ormi_add_gtest(rel_soak_test SOURCES rel_soak_test.cpp
                 LIBS ormi_control_static ormi_sim TIMEOUT 240)
  if(WIN32)
    target_link_libraries(rel_soak_test PRIVATE psapi ws2_32)
  endif()
endif()
