// Helper program for the launch tests: idles for the given number of
// seconds (default 30) so that a test can watch and stop it.
#include <windows.h>

#include <stdlib.h>

int main(int argc, char** argv)
{
    int seconds = argc > 1 ? atoi(argv[1]) : 30;
    Sleep((DWORD)(seconds > 0 ? seconds : 30) * 1000);
    return 7;
}
