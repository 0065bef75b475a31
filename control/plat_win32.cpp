// Win32 platform layer (being filled in).
#include <winsock2.h>
#include <windows.h>
#include "plat.h"

plat_window eventWindow;
static SRWLOCK callLock = SRWLOCK_INIT;

void plat_lock(void) { AcquireSRWLockExclusive(&callLock); }
void plat_unlock(void) { ReleaseSRWLockExclusive(&callLock); }
void plat_sleep(int ms) { Sleep((DWORD)ms); }
