# cmake -DRC=ORMI_updater.rc.in -DMAJOR_MINOR=1.2 -P caption_check.cmake
# The caption "ORMI updater vX.Y" and the About box's "ORMI updater  vX.Y"
# must name the product version's major and minor.
file(READ ${RC} rc)
string(REGEX MATCH "CAPTION \"ORMI updater v([0-9]+\\.[0-9]+)\"" caption "${rc}")
set(caption_version ${CMAKE_MATCH_1})
string(REGEX MATCH "\"ORMI updater  v([0-9]+\\.[0-9]+)\"" about "${rc}")
set(about_version ${CMAKE_MATCH_1})
if(NOT caption_version STREQUAL MAJOR_MINOR OR NOT about_version STREQUAL MAJOR_MINOR)
  message(FATAL_ERROR "the updater says v${caption_version} (caption) and v${about_version} (About box), "
                      "the product version is ${MAJOR_MINOR}.x")
endif()
message("caption and About box: v${caption_version}")
