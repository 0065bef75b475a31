# The product version in the programs: ORMI_VERSION for --version, and a
# version resource (VERSIONINFO) in every Windows file we ship.
set(ORMI_COMPANY "ORMI Gerätetechnik")
set(ORMI_COPYRIGHT "© 2026 ORMI Gerätetechnik, Apache-2.0")

# ormi_version_resource(target "description"): the target's VERSIONINFO.
# The resource compiler reads Windows-1252, so the UTF-8 script is converted.
function(ormi_version_resource target description)
  target_compile_definitions(${target} PRIVATE ORMI_VERSION="${PROJECT_VERSION}")
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  set(ORMI_RC_DESCRIPTION "${description}")
  set(ORMI_RC_NAME ${target})
  if(type STREQUAL "SHARED_LIBRARY")
    set(ORMI_RC_FILETYPE VFT_DLL)
    set(ORMI_RC_FILENAME ${target}.dll)
  else()
    set(ORMI_RC_FILETYPE VFT_APP)
    set(ORMI_RC_FILENAME ${target}.exe)
  endif()
  set(utf8 ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.utf8.rc)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${utf8} @ONLY)
  add_custom_command(OUTPUT ${rc} COMMAND iconv -f UTF-8 -t CP1252 -o ${rc} ${utf8} DEPENDS ${utf8} VERBATIM)
  target_sources(${target} PRIVATE ${rc})
endfunction()
