# The ormi command-line program: its bzip2 verifier (cross-checked against
# libbz2 natively) and whole runs of the program against simulated devices.
if(TARGET ormi_cli_core)
  # Streams made by the bzip2 command at configure time, read by the tests
  # from the build directory (also under Wine).
  set(ORMI_CLI_FIXTURES ${CMAKE_BINARY_DIR}/cli-fixtures)
  find_program(ORMI_BZIP2 bzip2)
  if(ORMI_BZIP2 AND NOT EXISTS ${ORMI_CLI_FIXTURES}/multi.bz2)
    file(MAKE_DIRECTORY ${ORMI_CLI_FIXTURES})
    file(WRITE ${ORMI_CLI_FIXTURES}/small "a small package\n")
    file(WRITE ${ORMI_CLI_FIXTURES}/empty "")
    # Runs of every length around the 4-byte run step, up to past 255.
    set(runs "")
    foreach(n 1 3 4 5 8 250 255 256 259 300 1000)
      string(REPEAT "x" ${n} run)
      string(APPEND runs "${run}y")
    endforeach()
    file(WRITE ${ORMI_CLI_FIXTURES}/runs "${runs}")
    # More than 300 kB of varied text: several blocks at -1.
    string(RANDOM LENGTH 4000 ALPHABET "abcdefghij0123456789 \n" RANDOM_SEED 7 chunk)
    set(multi "")
    foreach(i RANGE 80)
      string(APPEND multi "${i}:${chunk}")
    endforeach()
    file(WRITE ${ORMI_CLI_FIXTURES}/multi "${multi}")
    foreach(name small empty runs)
      execute_process(COMMAND ${ORMI_BZIP2} -k -f -9 ${ORMI_CLI_FIXTURES}/${name})
    endforeach()
    execute_process(COMMAND ${ORMI_BZIP2} -k -f -1 ${ORMI_CLI_FIXTURES}/multi)
  endif()

  ormi_add_gtest(cli_bz2_test SOURCES cli_bz2_test.cpp LIBS ormi_cli_core TIMEOUT 120)
  ormi_add_gtest(cli_edit_test SOURCES cli_edit_test.cpp LIBS ormi_cli_core TIMEOUT 60)
  ormi_add_gtest(cli_settings_test SOURCES cli_settings_test.cpp LIBS ormi_cli_core TIMEOUT 60)

  if(TARGET ormi AND TARGET ormi_sim)
    ormi_add_gtest(cli_update_test SOURCES cli_update_test.cpp LIBS ormi_cli_core ormi_sim TIMEOUT 400)
    ormi_add_gtest(cli_command_test SOURCES cli_command_test.cpp LIBS ormi_cli_core ormi_sim TIMEOUT 120)
    foreach(program cli_update_test cli_command_test)
      add_dependencies(${program} ormi ormi_control)
    endforeach()
    if(WIN32)
      add_executable(cli_leave_helper ${CMAKE_CURRENT_SOURCE_DIR}/cli_leave_helper.cpp)
      add_dependencies(cli_command_test cli_leave_helper)
    endif()
  endif()
endif()

# The documents are read from the source tree; natively only, where its paths are the program's.
if(TARGET ormi_cli_core AND NOT WIN32)
  ormi_add_gtest(cli_exit_codes_test SOURCES cli_exit_codes_test.cpp LIBS ormi_cli_core TIMEOUT 60)
  target_compile_definitions(cli_exit_codes_test PRIVATE ORMI_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
