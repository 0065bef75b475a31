# Reliability: request texts and the clear password, the fault matrix of
# every export against every device fault, and a soak of many calls.
if(TARGET ormi_control_static AND TARGET ormi_sim)
  ormi_add_gtest(rel_requests_test SOURCES rel_requests_test.cpp
                 LIBS ormi_control_static ormi_sim TIMEOUT 120)
endif()
# Their resource probes are the benchmark's (rel_probe.h).
if(TARGET ormi_control_static AND TARGET ormi_sim AND TARGET ormi_bench_core)
  ormi_add_gtest(rel_faults_test SOURCES rel_faults_test.cpp
                 LIBS ormi_control_static ormi_sim ormi_bench_core TIMEOUT 180)
  ormi_add_gtest(rel_soak_test SOURCES rel_soak_test.cpp
                 LIBS ormi_control_static ormi_sim ormi_bench_core TIMEOUT 240)
endif()
