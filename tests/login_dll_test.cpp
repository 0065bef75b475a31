// checkConnection through ormi_control.dll bound at run time by file name,
// the way the updater binds it.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

#include "sim_server.h"

namespace {

typedef int(WINAPI* checkConnection_fn)(void);
typedef int(WINAPI* startDLL_fn)(void);

std::string directoryOfThisProgram()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path, length);
    return text.substr(0, text.find_last_of("\\/"));
}

void writeSettings(int port, int method, const char* password)
{
    // The updater writes the file into the current directory, where the
    // library looks for it.
    std::ofstream file("ormi_control.ini", std::ios::binary | std::ios::trunc);
    file << "[IP]\r\nip_address=127.0.0.1\r\nip_port=" << port << "\r\n"
         << "[LOGIN]\r\nusername=admin\r\npassword=" << password << "\r\nlogin_version=" << method << "\r\n"
         << "[CONTROL]\r\ntimeout=1\r\n";
}

class LoadedLibrary : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
        workDirectory = std::string(temp) + "ormi_login_dll_" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(workDirectory.c_str(), nullptr));
        std::string source = directoryOfThisProgram() + "\\ormi_control.dll";
        std::string target = workDirectory + "\\ormi_control.dll";
        ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << source;
        ASSERT_TRUE(SetCurrentDirectoryA(workDirectory.c_str()));

        library = LoadLibraryA("ormi_control.dll");
        ASSERT_NE(nullptr, library);
        startDLL = (startDLL_fn)(void*)GetProcAddress(library, "startDLL");
        checkConnection = (checkConnection_fn)(void*)GetProcAddress(library, "checkConnection");
        ASSERT_NE(nullptr, startDLL);
        ASSERT_NE(nullptr, checkConnection);
        EXPECT_EQ(0, startDLL());
    }

    static void TearDownTestSuite()
    {
        // The library stays loaded (its event thread lives until the process
        // ends); removing the copy is best effort, as it may be the one in use.
        SetCurrentDirectoryA(directoryOfThisProgram().c_str());
        DeleteFileA((workDirectory + "\\ormi_control.ini").c_str());
        DeleteFileA((workDirectory + "\\ormi_control.dll").c_str());
        RemoveDirectoryA(workDirectory.c_str());
    }

    void TearDown() override
    {
        if (server)
            sim_stop(server);
        server = nullptr;
    }

    void startDevice(int method)
    {
        sim_options options;
        options.loginMethod = method;
        server = sim_start(options);
        ASSERT_NE(nullptr, server);
    }

    static std::string workDirectory;
    static HMODULE library;
    static startDLL_fn startDLL;
    static checkConnection_fn checkConnection;
    sim_server* server = nullptr;
};

std::string LoadedLibrary::workDirectory;
HMODULE LoadedLibrary::library;
startDLL_fn LoadedLibrary::startDLL;
checkConnection_fn LoadedLibrary::checkConnection;

TEST_F(LoadedLibrary, ChecksConnectionWithBothLoginMethods)
{
    for (int method : { 1, 2 }) {
        SCOPED_TRACE(method);
        startDevice(method);
        writeSettings(sim_port(server), method, "secret");
        EXPECT_EQ(1, checkConnection());
        EXPECT_EQ((size_t)method, sim_requests(server).size());

        writeSettings(sim_port(server), method, "wrong");
        EXPECT_EQ(0, checkConnection());
        EXPECT_EQ((size_t)method * 2, sim_requests(server).size());
        sim_stop(server);
        server = nullptr;
    }
}

} // namespace
