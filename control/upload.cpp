// Package upload.
// replaced by the login/parameter/upload work
#include "ormi_control.h"

ORMI_API int ORMI_CALL sendUpdateFile(const char* type, const char* fileName, const char* data, int length)
{
    (void)type; (void)fileName; (void)data; (void)length;
    return -1;
}

ORMI_API int ORMI_CALL sendUpdateFileResp(void) { return 0; }
