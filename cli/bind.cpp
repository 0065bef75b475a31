// The control library, bound at run time from the file next to this
// program, as any integrator's program would bind it. Loading happens after
// the working folder has become the current directory: the library takes
// its settings directory from there.
#include "cli.h"
#include "../control/ormi_control.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

decltype(&::checkConnection) pCheckConnection;
decltype(&::getValue) pGetValue;
decltype(&::setValue) pSetValue;
decltype(&::getIO) pGetIO;
decltype(&::setIO) pSetIO;
decltype(&::sendUpdateFile) pSendUpdateFile;
decltype(&::sendUpdateFileResp) pSendUpdateFileResp;
decltype(&::startDLL) pStartDLL;

#ifdef _WIN32
const char libraryName[] = "ormi_control.dll";
HMODULE library;
void* symbol(const char* name)
{
    return (void*)GetProcAddress(library, name);
}
#else
const char libraryName[] = "libormi_control.so";
void* library;
void* symbol(const char* name)
{
    return dlsym(library, name);
}
#endif

template <typename T> bool resolve(T* slot, const char* name, std::string* missing)
{
    *slot = reinterpret_cast<T>(symbol(name));
    if (!*slot && missing->empty())
        *missing = name;
    return *slot != nullptr;
}

} // namespace

int bind_load(std::string* error)
{
    std::string path = term_executablePath();
    std::size_t slash = path.find_last_of("/\\");
    path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + libraryName;
#ifdef _WIN32
    library = LoadLibraryA(path.c_str());
    if (!library) {
        *error = "cannot load " + path;
        return 0;
    }
#else
    library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        *error = "cannot load " + path + (why ? std::string(": ") + why : std::string());
        return 0;
    }
#endif
    std::string missing;
    resolve(&pCheckConnection, "checkConnection", &missing);
    resolve(&pGetValue, "getValue", &missing);
    resolve(&pSetValue, "setValue", &missing);
    resolve(&pGetIO, "getIO", &missing);
    resolve(&pSetIO, "setIO", &missing);
    resolve(&pSendUpdateFile, "sendUpdateFile", &missing);
    resolve(&pSendUpdateFileResp, "sendUpdateFileResp", &missing);
    resolve(&pStartDLL, "startDLL", &missing);
    if (!missing.empty()) {
        *error = path + " lacks the export " + missing;
        return 0;
    }
    pStartDLL();
    return 1;
}

int bind_checkConnection()
{
    return pCheckConnection();
}
const char* bind_getValue(const char* type, const char* module, const char* key)
{
    return pGetValue(type, module, key);
}
int bind_setValue(const char* type, const char* module, const char* key, const char* value)
{
    return pSetValue(type, module, key, value);
}
int bind_getIO(const char* base, char* channel)
{
    return pGetIO(base, channel);
}
int bind_setIO(const char* base, char* channel, int value)
{
    return pSetIO(base, channel, value);
}
int bind_sendUpdateFile(const char* type, const char* fileName, const char* data, int length)
{
    return pSendUpdateFile(type, fileName, data, length);
}
int bind_sendUpdateFileResp()
{
    return pSendUpdateFileResp();
}
