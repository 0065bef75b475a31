// Running the ormi program from a test: the program next to the test, its
// output (standard output and error together) and exit code, a private
// temporary folder, and simulated devices in this process.
#pragma once
#include <gtest/gtest.h>

#include "cli.h"
#include "sim_server.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

struct cli_outcome {
    int code = -1;
    std::string output;
};

inline std::string cli_programPath()
{
    std::string self = term_executablePath();
    std::size_t slash = self.find_last_of("/\\");
#ifdef _WIN32
    return self.substr(0, slash + 1) + "ormi.exe";
#else
    return self.substr(0, slash + 1) + "ormi";
#endif
}

inline void cli_setEnv(const char* name, const std::string& value)
{
#ifdef _WIN32
    SetEnvironmentVariableA(name, value.c_str());
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

inline void cli_unsetEnv(const char* name)
{
#ifdef _WIN32
    SetEnvironmentVariableA(name, nullptr);
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

inline cli_outcome cli_run(const std::vector<std::string>& args)
{
    cli_outcome outcome;
    proc_child* child = proc_start(cli_programPath(), args);
    if (!child)
        return outcome;
    std::string line;
    while (proc_readLine(child, &line))
        outcome.output += line + "\n";
    outcome.code = proc_wait(child);
    return outcome;
}

inline std::string cli_readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void cli_writeFile(const std::string& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary);
    out << data;
}

// A folder of this test's own that also serves as TMPDIR/TMP of the
// program, so that a working folder left behind is seen.
class CliTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        dir = std::filesystem::absolute("cli-test-" +
                                        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir);
        temp = dir / "tmp";
        std::filesystem::create_directories(temp);
        for (const char* name : { "TMPDIR", "TMP", "TEMP" })
            cli_setEnv(name, temp.string());
        cli_setEnv("ORMI_PASSWORD", "secret");
        std::string multi = cli_readFile("cli-fixtures/multi.bz2");
        ASSERT_GT(multi.size(), 1000u) << "fixtures are made with the bzip2 command at configure time";
        package = multi;
        packagePath = path("fw_ormi_2.2.0.bz2");
        cli_writeFile(packagePath, package);
    }
    void TearDown() override
    {
        for (sim_server* s : sims)
            sim_stop(s);
        EXPECT_TRUE(std::filesystem::is_empty(temp)) << "a working folder was left behind";
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    sim_server* startSim(sim_options options)
    {
        options.rebootSeconds = options.rebootSeconds == 5 ? 1 : options.rebootSeconds;
        if (options.installPolls == 3)
            options.installPolls = 2;
        sim_server* s = sim_start(options);
        if (s)
            sims.push_back(s);
        return s;
    }
    static std::string device(sim_server* s)
    {
        return "127.0.0.1:" + std::to_string(sim_port(s));
    }
    std::string path(const std::string& name) const
    {
        return (dir / name).string();
    }
    // Fast waits for the simulated device.
    // Later options win, so a test's own come after these.
    static std::vector<std::string> quick(const std::vector<std::string>& args)
    {
        std::vector<std::string> all = { "--timeout",       "1",   "--retry-pause", "0.1",
                                         "--poll-interval", "0.2", "--reboot-wait", "20" };
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
    std::filesystem::path dir, temp;
    std::string package, packagePath;
    std::vector<sim_server*> sims;
};
