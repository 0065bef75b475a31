// Firmware packages and the device they fit: the device type tag and
// version suffix that a package version names, the device type's label, the
// check of a package's file name with its operator texts (German), the size
// limits of the device's upload, and the package check that ormi and the
// updater run (package_check.cpp). Shared by the updater, ormi and the
// control library; no window, no heap.
#pragma once

enum {
    PACKAGE_TAG_SIZE = 256,
    // Holds every text of package_checkName for a suffix of fewer than
    // PACKAGE_TAG_SIZE characters.
    PACKAGE_MESSAGE_SIZE = 384,
    // The device takes an upload request (head, form and package) of at most
    // this many bytes with a terminating zero; its form says so itself
    // ("max_file_size").
    PACKAGE_UPLOAD_SIZE = 10000000,
    // The form around the package, with the file name, stays below this.
    PACKAGE_FORM_HEAD_SIZE = 4096,
};

// tag: "_ormi_" or "_ormim_"; suffix: what follows the version's last
// decimal digit (all of it when there is none). A suffix that does not fit
// is cut.
void package_splitVersion(const char* version, char* tag, int tagSize, char* suffix, int suffixSize);

// "ORMI" for the tag "_ormi_", "ORMI-M" for any other.
const char* package_deviceType(const char* tag);

// The operator's text when the device gives no package version: its
// firmware cannot take a package.
extern const char package_noVersionText[];

// 1 when fileName holds both the device's tag and its version suffix (as
// package_splitVersion gives them). Otherwise 0, and message (size bytes)
// holds the operator's text why.
int package_checkName(const char* tag, const char* suffix, const char* fileName, char* message, int size);

// --- package_check.cpp: the one check of a package before it is sent ---
// The content checks need the package alone and run before anything else
// happens; the fit needs the device's package version. A new check of a
// package goes into package_check, with a failure of its own below.
enum {
    PACKAGE_CHECK_CONTENT = 1, // the bytes: an intact bzip2 stream
    PACKAGE_CHECK_FIT = 2,     // the file name against the device's version
};
enum package_failure {
    PACKAGE_PASSED = 0,
    PACKAGE_NO_VERSION, // the device gives no package version: it takes no package
    PACKAGE_WRONG_NAME, // the name lacks the device's type tag or version suffix
    PACKAGE_CORRUPT,    // not an intact bzip2 stream
};
// ormi's exit codes for the failures (cli/exit.cpp holds them to its table).
enum { PACKAGE_EXIT_NOFIT = 5, PACKAGE_EXIT_CORRUPT = 9 };

struct package_subject {
    const char* fileName;      // the name the device is given
    const unsigned char* data; // the package's bytes (content checks)
    unsigned long long size;
    // The fit: the device's tag and version suffix (package_splitVersion);
    // a null tag when the device gives no package version.
    const char* deviceTag;
    const char* deviceSuffix;
};

struct package_verdict {
    int failure;  // package_failure
    int exitCode; // ormi's exit code for it; 0 when passed
    // What failed, for the operator or a --json result ("" when passed); for
    // a corrupt stream, detail says where it breaks.
    char message[PACKAGE_MESSAGE_SIZE];
    char detail[PACKAGE_MESSAGE_SIZE];
};

// Runs the checks asked for (PACKAGE_CHECK_*), content first; 1 when all
// pass, else 0 with the first failure in verdict.
int package_check(const package_subject* subject, int checks, package_verdict* verdict);
