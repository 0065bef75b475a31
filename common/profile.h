// Private-profile text matching, the one set of rules for reading a settings
// file: the library's readers (one line of an INI file at a time, or a whole
// file held in memory) and ormi, which reads and edits the file it hands the
// library by the same rules.
#pragma once

enum { PROFILE_LINE_SIZE = 1024 }; // longer lines are cut

// inSection: 0 before the section, 1 in it, 2 behind it. Start with all 0.
struct profile_scan {
    int inSection;
    int lines;
};

// Looks at one line (without its line feed; changed in place). 1 when it is
// key of section: its value, without matching quotes, cut to size - 1, in out.
int profile_line(profile_scan* scan, char* line, const char* section, const char* key, char* out, int size);
// The same over a file's text of length bytes, line by line.
int profile_findInText(const char* text, int length, const char* section, const char* key, char* out, int size);
// The leading decimal number of a found value; defaultValue for an empty one.
int profile_number(const char* value, int defaultValue);
