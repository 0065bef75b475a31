# Updater tests (Windows only): the file helpers and the updater's toolkits
# in-process, and the program itself through the window driver.
if(WIN32 AND TARGET ORMI_updater)
  add_library(ormi_windriver STATIC ${CMAKE_CURRENT_SOURCE_DIR}/driver/windriver.cpp)
  target_include_directories(ormi_windriver PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/driver)
  target_link_libraries(ormi_windriver PUBLIC user32 gdi32 advapi32)

  # Stand-ins for ormi_control.dll: complete, and lacking startDLL.
  foreach(variant fake_control fake_control_nostart)
    add_library(updater_${variant} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/updater_fake_control.cpp)
    set_target_properties(updater_${variant} PROPERTIES PREFIX "")
    target_include_directories(updater_${variant} PRIVATE ${CMAKE_SOURCE_DIR}/control)
    target_link_options(updater_${variant} PRIVATE -Wl,--kill-at)
  endforeach()
  target_compile_definitions(updater_fake_control_nostart PRIVATE FAKE_CONTROL_WITHOUT_START)

  ormi_add_gtest(updater_file_test SOURCES updater_file_test.cpp
                 LIBS ormi_filehelpers ormi_windriver TIMEOUT 120)
  add_executable(updater_idle_helper ${CMAKE_CURRENT_SOURCE_DIR}/updater_idle_helper.cpp)
  ormi_add_gtest(updater_toolkit_test SOURCES updater_toolkit_test.cpp
                 LIBS ormi_updater_core ormi_windriver TIMEOUT 120)
  add_dependencies(updater_toolkit_test updater_idle_helper ORMI_updater)
  ormi_add_gtest(updater_resource_test SOURCES updater_resource_test.cpp LIBS ormi_windriver
                 TIMEOUT 60)
  add_dependencies(updater_resource_test ORMI_updater)

  # Stages the program for scripts/screenshots.
  add_executable(updater_shots ${CMAKE_CURRENT_SOURCE_DIR}/updater_shots.cpp)
  target_link_libraries(updater_shots PRIVATE ormi_windriver)
  add_dependencies(updater_shots ORMI_updater updater_fake_control)

  # The program in a scratch folder, driven through its window.
  foreach(program updater_start_test updater_menu_test)
    ormi_add_gtest(${program} SOURCES ${program}.cpp LIBS ormi_windriver TIMEOUT 180)
    add_dependencies(${program} ORMI_updater updater_fake_control updater_fake_control_nostart)
  endforeach()
  if(TARGET ormi_control)
    add_dependencies(updater_start_test ormi_control)
    target_compile_definitions(updater_start_test PRIVATE HAVE_REAL_CONTROL_LIBRARY)
  endif()
endif()
