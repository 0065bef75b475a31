// Public interface of the ormi_control library: the eight exported calls.
// Every call reads its connection settings from ormi_control.ini afresh and
// blocks until its device exchanges are done; calls never overlap. A call
// may come right after the library is loaded: its first exchange waits, up
// to the time-out, for the library's event thread to be ready.
#pragma once

#ifdef _WIN32
// __stdcall on x86 so that VBA, C# and LabVIEW callers can bind the names
// listed in ormi_control.def; a no-op on x86-64.
#define ORMI_CALL __stdcall
#define ORMI_API
#else
#define ORMI_CALL
#define ORMI_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

ORMI_API int ORMI_CALL startDLL(void);
ORMI_API int ORMI_CALL checkConnection(void);

// The exports below read and write device values. Texts are zero-terminated
// 8-bit texts that go into the requests as they stand, without escaping; a
// text that does not fit its request is refused with the export's failure
// value before anything is sent. Every export holds a process-wide lock for
// its whole duration, so calls from several threads run one after another.

// Reads channel `channel` ("di1", "ao2", ...) of module `base`; a channel
// whose name contains "do" or "ao" is an output, any other an input.
// Returns the value, a decimal answer rounded to a whole number, or -1 when
// no login hash was obtained, the exchange failed, the answer holds no "OK"
// or its body is empty (-1 may also be the value). `channel` is only read.
ORMI_API int ORMI_CALL getIO(const char* base, char* channel);
// Sets channel `channel` of module `base` (addressed as by getIO) to
// `value`. Returns 1 when the device confirmed with "OK", else 0.
// `channel` is only read.
ORMI_API int ORMI_CALL setIO(const char* base, char* channel, int value);
// Reads `module` of kind `type` (e.g. "configuration", "devicebase"). An
// empty `key` gives the body of the answer; a key (dotted path) gives the
// string, true or false value of that key in the answer's JSON object, and
// the empty text for a number or a missing key. Null when no login hash was
// obtained, the exchange failed, the body is empty, there is no JSON object
// (key given) or the value exceeds 255 characters. The text lies in the
// library's buffers and stays valid until the next call of any export.
ORMI_API const char* ORMI_CALL getValue(const char* type, const char* module, const char* key);
// Writes `value` as the data of `module` of kind `type`. With a non-empty
// `key` the data is the stored file "configbase/<module>.json" (relative to
// the current directory; empty if missing) with `key` set to `value`, which
// is inserted as it stands. Data of at most 4095 characters. Returns 1 when
// the device confirmed with "OK", else 0.
ORMI_API int ORMI_CALL setValue(const char* type, const char* module, const char* key, const char* value);
// Uploads the `length` bytes at `data` as package `fileName` (at most 3505
// characters; `type` is not used). Returns 1 when the device has answered,
// 0 when the request is out but the answer has not come within the
// time-out (collect it with sendUpdateFileResp), -1 when the package did not go
// out: no login hash, no connection, a failed send, or a package that does not
// fit the 10,000,000-byte upload buffer together with its multipart frame.
// The bytes are sent from the caller's buffer before the call returns; the
// library keeps no pointer to them.
ORMI_API int ORMI_CALL sendUpdateFile(const char* type, const char* fileName, const char* data, int length);
// Waits up to one second for the answer to an upload for which
// sendUpdateFile returned 0. Returns 1 once it has arrived (connection
// closed, answer kept until the next call), else 0; with no upload waiting,
// 0 after a one-second pause. A call made while sendUpdateFile is still
// running on another thread waits for it to return.
ORMI_API int ORMI_CALL sendUpdateFileResp(void);

#ifdef __cplusplus
}
#endif
