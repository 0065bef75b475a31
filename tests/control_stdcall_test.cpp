// The x86 calling convention of the eight exports, seen from the caller's
// side as VBA, C# and LabVIEW call them: through __stdcall function pointers
// of ormi_control.dll bound by name. Around every call the stack pointer is
// measured; it must come back where it was before the arguments were
// pushed (the export removes its own arguments), and ebx, esi, edi and ebp
// must come back unchanged. An export built as __cdecl leaves its arguments
// on the stack, which such a caller never removes. (startDLL,
// checkConnection and sendUpdateFileResp take no arguments: for them the
// two conventions agree, and only the registers or a stray `ret n` show.)
// x86 only: x86-64 has one convention, in which the caller removes what it
// pushed, so there is nothing to measure.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "sim_server.h"

extern "C" {
// Written by measured_call; one call at a time.
unsigned measured_espBefore, measured_espAfter, measured_ebpBefore;
unsigned measured_ebx, measured_esi, measured_edi, measured_ebp;
unsigned measured_call(const void* function, const unsigned* arguments, int count);
}

// measured_call(function, arguments, count): pushes arguments[count-1] ...
// arguments[0] as a compiler does for a call, calls the function with known
// values in the registers it must keep, records the stack pointer before
// the pushes and after the return and those registers after the return,
// then puts its own stack pointer back whatever the function did. Returns
// what the function returned in eax.
__asm__(".text\n"
        ".globl _measured_call\n"
        "_measured_call:\n"
        "    pushl %ebp\n"
        "    movl  %esp, %ebp\n"
        "    pushl %ebx\n"
        "    pushl %esi\n"
        "    pushl %edi\n"
        "    movl  12(%ebp), %esi\n"
        "    movl  16(%ebp), %ecx\n"
        "    movl  %esp, _measured_espBefore\n"
        "    movl  %ebp, _measured_ebpBefore\n"
        "1:  testl %ecx, %ecx\n"
        "    jz    2f\n"
        "    pushl -4(%esi,%ecx,4)\n"
        "    decl  %ecx\n"
        "    jmp   1b\n"
        "2:  movl  8(%ebp), %eax\n"
        "    movl  $0xB0B0B0B0, %ebx\n"
        "    movl  $0x51515151, %esi\n"
        "    movl  $0xD1D1D1D1, %edi\n"
        "    call  *%eax\n"
        "    movl  %esp, _measured_espAfter\n"
        "    movl  %ebx, _measured_ebx\n"
        "    movl  %esi, _measured_esi\n"
        "    movl  %edi, _measured_edi\n"
        "    movl  %ebp, _measured_ebp\n"
        "    movl  _measured_ebpBefore, %ebp\n"
        "    leal  -12(%ebp), %esp\n"
        "    popl  %edi\n"
        "    popl  %esi\n"
        "    popl  %ebx\n"
        "    popl  %ebp\n"
        "    ret\n");

namespace {

std::string directoryOfThisProgram()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path, length);
    return text.substr(0, text.find_last_of("\\/"));
}

unsigned word(const void* pointer)
{
    return (unsigned)(UINT_PTR)pointer;
}

struct export_call {
    const char* name;
    unsigned arguments[4];
    int count;
    int (*resultIsRight)(unsigned result);
};

class StdcallExports : public ::testing::Test {
  protected:
    void SetUp() override
    {
        sim_options options;
        device = sim_start(options);
        ASSERT_NE(nullptr, device);

        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
        folder = std::string(temp) + "ormi_stdcall_" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        std::string settings = folder + "\\ormi_control.ini";
        std::string text = "[IP]\r\nip_address=127.0.0.1\r\nip_port=" + std::to_string(sim_port(device)) +
                           "\r\n[LOGIN]\r\nusername=admin\r\npassword=secret\r\nlogin_version=1\r\n"
                           "[CONTROL]\r\ntimeout=2\r\n";
        HANDLE file = CreateFileA(settings.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr);
        CloseHandle(file);

        // The library reads its settings from the directory current at load.
        GetCurrentDirectoryA(sizeof startFolder, startFolder);
        ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
        library = LoadLibraryA((directoryOfThisProgram() + "\\ormi_control.dll").c_str());
        ASSERT_NE(nullptr, library);
    }

    void TearDown() override
    {
        // The library stays loaded: its event thread lives until the process ends.
        SetCurrentDirectoryA(startFolder);
        DeleteFileA((folder + "\\ormi_control.ini").c_str());
        RemoveDirectoryA(folder.c_str());
        if (device)
            sim_stop(device);
    }

    sim_server* device = nullptr;
    HMODULE library = nullptr;
    std::string folder;
    char startFolder[MAX_PATH] = {};
};

TEST_F(StdcallExports, EveryExportRemovesItsArgumentsAndKeepsTheCallersRegisters)
{
    static char inputChannel[] = "ai1";
    static char outputChannel[] = "do1";
    static const char package[] = "package bytes";
    const std::string configuration = sim_configuration(device);
    const export_call calls[] = {
        { "startDLL", {}, 0, [](unsigned r) { return (int)(r == 0); } },
        { "checkConnection", {}, 0, [](unsigned r) { return (int)(r == 1); } },
        { "setIO", { word("io"), word(outputChannel), 1 }, 3, [](unsigned r) { return (int)(r == 1); } },
        { "getIO", { word("io"), word(inputChannel) }, 2, [](unsigned r) { return (int)((int)r != -1); } },
        { "getValue",
          { word("configuration"), word("devicebase"), word("") },
          3,
          [](unsigned r) { return (int)(r != 0); } },
        { "setValue",
          { word("configuration"), word("devicebase"), word(""), word(configuration.c_str()) },
          4,
          [](unsigned r) { return (int)(r == 1); } },
        { "sendUpdateFile",
          { word("update"), word("p_ormi_.bz2"), word(package), sizeof package - 1 },
          4,
          [](unsigned r) { return (int)(r == 1); } },
        { "sendUpdateFileResp", {}, 0, [](unsigned r) { return (int)(r == 0 || r == 1); } },
    };
    for (const export_call& c : calls) {
        SCOPED_TRACE(c.name);
        FARPROC function = GetProcAddress(library, c.name);
        ASSERT_NE(nullptr, function);
        unsigned result = measured_call((const void*)function, c.arguments, c.count);
        EXPECT_EQ(0, (int)(measured_espAfter - measured_espBefore))
            << "bytes the export left on (negative) or took off the stack; its " << 4 * c.count
            << " bytes of arguments";
        EXPECT_EQ(0xB0B0B0B0u, measured_ebx);
        EXPECT_EQ(0x51515151u, measured_esi);
        EXPECT_EQ(0xD1D1D1D1u, measured_edi);
        EXPECT_EQ(measured_ebpBefore, measured_ebp);
        EXPECT_TRUE(c.resultIsRight(result)) << "result " << (int)result;
    }
    // The arguments arrived in their places: the device holds what was sent.
    EXPECT_EQ("1", sim_ioValue(device, "io/do1/output"));
    EXPECT_EQ("p_ormi_.bz2", sim_lastUpload(device).fileName);
    EXPECT_EQ(sizeof package - 1, sim_lastUpload(device).size);
}

} // namespace
