// Parameter access.
// replaced by the login/parameter/upload work
#include "ormi_control.h"

ORMI_API int ORMI_CALL getIO(const char* base, char* channel)
{
    (void)base; (void)channel;
    return -1;
}

ORMI_API int ORMI_CALL setIO(const char* base, char* channel, int value)
{
    (void)base; (void)channel; (void)value;
    return 0;
}

ORMI_API const char* ORMI_CALL getValue(const char* type, const char* module, const char* key)
{
    (void)type; (void)module; (void)key;
    return nullptr;
}

ORMI_API int ORMI_CALL setValue(const char* type, const char* module, const char* key, const char* value)
{
    (void)type; (void)module; (void)key; (void)value;
    return 0;
}
