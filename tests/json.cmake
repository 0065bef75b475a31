# JSON text access: parser events, key path lookup, line edits, files,
# append buffer and writer. One program, so one Wine process.
if(TARGET ormi_common)
  ormi_add_gtest(json_test
    SOURCES json_parse_test.cpp json_getvalue_test.cpp json_setvalue_test.cpp
            json_write_test.cpp json_file_test.cpp
    LIBS ormi_common TIMEOUT 60)
endif()
