# The benchmark's statistics, verdicts, report and floor client.
if(TARGET ormi_bench_core)
  ormi_add_gtest(bench_test SOURCES bench_test.cpp LIBS ormi_bench_core TIMEOUT 60)
endif()
