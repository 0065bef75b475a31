// Public interface of the ormi_control library: the eight exported calls.
// Every call reads its connection settings from ormi_control.ini afresh and
// blocks until its device exchanges are done; calls never overlap.
#ifndef ORMI_CONTROL_H
#define ORMI_CONTROL_H

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
ORMI_API int ORMI_CALL getIO(const char* base, char* channel);
ORMI_API int ORMI_CALL setIO(const char* base, char* channel, int value);
ORMI_API const char* ORMI_CALL getValue(const char* type, const char* module, const char* key);
ORMI_API int ORMI_CALL setValue(const char* type, const char* module, const char* key, const char* value);
ORMI_API int ORMI_CALL sendUpdateFile(const char* type, const char* fileName, const char* data, int length);
ORMI_API int ORMI_CALL sendUpdateFileResp(void);

#ifdef __cplusplus
}
#endif

#endif
