# The control library's frame, settings and device transport.
if(TARGET ormi_control_static)
  ormi_add_gtest(control_settings_test SOURCES control_settings_test.cpp LIBS ormi_control_static TIMEOUT 60)
endif()
if(TARGET ormi_control_static AND TARGET ormi_sim)
  ormi_add_gtest(control_transport_test SOURCES control_transport_test.cpp
                 LIBS ormi_control_static ormi_sim TIMEOUT 120)
endif()
if(TARGET ormi_control)
  # Binds the shipped library at run time, as callers do; links none of it.
  ormi_add_gtest(control_library_test SOURCES control_library_test.cpp TIMEOUT 60)
  add_dependencies(control_library_test ormi_control)
  if(NOT WIN32)
    target_link_libraries(control_library_test PRIVATE ${CMAKE_DL_LIBS})
  endif()
endif()
if(WIN32 AND TARGET ormi_control_static)
  ormi_add_gtest(control_debug_test SOURCES control_debug_test.cpp LIBS ormi_control_static TIMEOUT 60)
  # A debug monitor serves every process of the session: alone, so that it
  # takes no other test's lines and, when it stops, leaves no program
  # waiting on its buffer (ten seconds a line, one program after another).
  set_tests_properties(control_debug_test PROPERTIES RUN_SERIAL TRUE)
endif()
if(WIN32 AND TARGET ormi_control)
  # The x86 DLL is built in the sibling win32 tree (no tests there).
  string(REPLACE "win64" "win32" ORMI_WIN32_BINARY_DIR ${CMAKE_BINARY_DIR})
  add_test(NAME control_exports_check
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/control_exports_check.sh
                   $<TARGET_FILE:ormi_control> x86_64-w64-mingw32-objdump
                   ${ORMI_WIN32_BINARY_DIR}/ormi_control.dll i686-w64-mingw32-objdump)
endif()
if(TARGET ormi_control AND TARGET ormi_sim)
  # 200 fresh processes that each load the shipped library and call it at once.
  add_executable(control_load_helper ${CMAKE_CURRENT_SOURCE_DIR}/control_load_helper.cpp)
  if(NOT WIN32)
    target_link_libraries(control_load_helper PRIVATE ${CMAKE_DL_LIBS})
  endif()
  ormi_add_gtest(control_load_test SOURCES control_load_test.cpp LIBS ormi_sim TIMEOUT 120)
  add_dependencies(control_load_test ormi_control control_load_helper)
endif()
