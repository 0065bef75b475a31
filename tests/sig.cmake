# Package signatures: the sig_ module in-process on every platform, against
# keys, packages and signatures that the openssl command makes once into
# build/sig-fixtures (shared by all presets: the same files on each).
if(TARGET ormi_sig)
  find_program(ORMI_OPENSSL openssl)
  find_program(ORMI_SH sh)
  set(ORMI_SIG_FIXTURES ${CMAKE_BINARY_DIR}/../sig-fixtures)
  add_test(NAME sig_fixtures COMMAND ${ORMI_SH} ${CMAKE_CURRENT_SOURCE_DIR}/sig_fixtures.sh ${ORMI_SIG_FIXTURES})
  set_tests_properties(sig_fixtures PROPERTIES FIXTURES_SETUP sig_files TIMEOUT 60)

  ormi_add_gtest(sig_verify_test SOURCES sig_verify_test.cpp LIBS ormi_sig TIMEOUT 60)
  set_tests_properties(sig_verify_test PROPERTIES FIXTURES_REQUIRED sig_files)
endif()
