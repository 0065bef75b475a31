# Update workflow tests: the pure text routines on every platform; the whole
# workflow through the updater's window against the simulated device (Windows).
ormi_add_gtest(workflow_format_test
               SOURCES workflow_format_test.cpp ${CMAKE_SOURCE_DIR}/updater/jsonformat.cpp
               TIMEOUT 60)
target_include_directories(workflow_format_test PRIVATE ${CMAKE_SOURCE_DIR}/updater)
