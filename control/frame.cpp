// The library frame: load-time start-up and startDLL.
#include "ormi_control.h"
#include "plat.h"

ORMI_API int ORMI_CALL startDLL(void)
{
    plat_lock();
    plat_sleep(10);
    plat_unlock();
    return 0;
}
