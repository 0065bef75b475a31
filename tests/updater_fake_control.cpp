// Stand-in for the control library in the updater's window tests: the six
// entry points the updater binds, each answering "no device". Built a second
// time with FAKE_CONTROL_WITHOUT_START to lack startDLL.
#include "ormi_control.h"

extern "C" {

#ifndef FAKE_CONTROL_WITHOUT_START
__declspec(dllexport) int ORMI_CALL startDLL(void)
{
    return 0;
}
#endif
__declspec(dllexport) int ORMI_CALL checkConnection(void)
{
    return 0;
}
__declspec(dllexport) int ORMI_CALL setValue(const char*, const char*, const char*, const char*)
{
    return 0;
}
__declspec(dllexport) const char* ORMI_CALL getValue(const char*, const char*, const char*)
{
    return nullptr;
}
__declspec(dllexport) int ORMI_CALL sendUpdateFile(const char*, const char*, const char*, int)
{
    return -1;
}
__declspec(dllexport) int ORMI_CALL sendUpdateFileResp(void)
{
    return 0;
}
}
