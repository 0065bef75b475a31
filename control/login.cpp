// Login and connection check.
// replaced by the login/parameter/upload work
#include "ormi_control.h"

ORMI_API int ORMI_CALL checkConnection(void) { return 0; }

const char* login_passwordHash(char* address, char* port, int timeout, const char* user)
{
    (void)address; (void)port; (void)timeout; (void)user;
    return nullptr;
}
