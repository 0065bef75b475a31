// POSIX platform layer (being filled in).
#include "plat.h"
#include <pthread.h>
#include <time.h>

plat_window eventWindow;
static pthread_mutex_t callLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

void plat_lock(void) { pthread_mutex_lock(&callLock); }
void plat_unlock(void) { pthread_mutex_unlock(&callLock); }

void plat_sleep(int ms)
{
    struct timespec t = { ms / 1000, (long)(ms % 1000) * 1000000L };
    while (nanosleep(&t, &t) != 0) {}
}
