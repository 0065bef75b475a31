# The DLL exports exactly the eight undecorated names (x86-64 here; the x86
# DLL is checked with the same script by hand: its build runs no tests).
if(WIN32 AND CMAKE_OBJDUMP)
  add_test(NAME dll_exports
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DDLL=$<TARGET_FILE:ormi_control>
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/scripts/exports_check.cmake)
  set_tests_properties(dll_exports PROPERTIES TIMEOUT 60)
endif()
