# One version: the programs' --version is CMake's project(VERSION), and the
# updater's caption and About box carry its major and minor by hand.
if(NOT WIN32)
  add_test(NAME release_caption_matches_version
           COMMAND ${CMAKE_COMMAND} -DRC=${PROJECT_SOURCE_DIR}/updater/ORMI_updater.rc.in
                   -DMAJOR_MINOR=${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/release/caption_check.cmake)
endif()
string(REPLACE "." "\\." ORMI_VERSION_PATTERN "${PROJECT_VERSION}")
foreach(program ormi ormi-sim)
  if(TARGET ${program})
    add_test(NAME release_${program}_version COMMAND ${program} --version)
    set_tests_properties(release_${program}_version PROPERTIES
      PASS_REGULAR_EXPRESSION "^${program} ${ORMI_VERSION_PATTERN}\r?\n$" TIMEOUT 30)
  endif()
endforeach()

# Not a test of its own: the release tests (tests/release/run) drive the
# installed updater with it.
if(WIN32 AND TARGET ORMI_updater)
  add_executable(installed_updater ${CMAKE_CURRENT_SOURCE_DIR}/release/installed_updater.cpp)
  target_link_libraries(installed_updater PRIVATE ormi_windriver)
endif()
