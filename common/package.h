// Firmware packages and the device they fit: the device type tag and
// version suffix that a package version names, the device type's label, the
// check of a package's file name with its operator texts (German), and the
// size limits of the device's upload. Shared by the updater, ormi and the
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
