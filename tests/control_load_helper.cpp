// A new user's first program: loads the shipped library and calls
// checkConnection at once, with nothing in between.
// control_load_helper LIBRARY SETTINGS_FOLDER; exit code 0 when the call
// returned 1, 1 when it returned anything else, 2 when the library or its
// export could not be had.
#ifdef _WIN32
#include <windows.h>
#define LOAD_CALL __stdcall
#else
#include <dlfcn.h>
#include <unistd.h>
#define LOAD_CALL
#endif

typedef int(LOAD_CALL* check_function)(void);

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
        // The library takes its settings folder from the current directory at load.
#ifdef _WIN32
    if (!SetCurrentDirectoryA(argv[2]))
        return 2;
    HMODULE library = LoadLibraryA(argv[1]);
    if (!library)
        return 2;
    check_function check = (check_function)(void*)GetProcAddress(library, "checkConnection");
#else
    if (chdir(argv[2]) != 0)
        return 2;
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return 2;
    check_function check = (check_function)dlsym(library, "checkConnection");
#endif
    if (!check)
        return 2;
    return check() == 1 ? 0 : 1;
}
