// A whole update through the updater's window, as a technician does it,
// against the simulated device with login method 2: check, package chosen in
// the open-file dialog and uploaded, installation followed to its end, and
// the reboot with its full 80 seconds, after which the device reports the
// new package. trusted_keys.pem stands beside the program: the package is
// signed by its key (tests/sig_fixtures.sh signs the bytes of packageData
// with openssl).
#include "workflow_fixture.h"

#include "md5.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace workflow_test;

namespace {

// The simulator's default configuration once the updater has repaired it.
const char repairedConfiguration[] = "{\n"
                                     "\t\"device_name\":\"ORMI I/O station\",\n"
                                     "\t\"device_type\":\"ORMI\",\n"
                                     "\t\"package_version\":\"2.1.0\",\n"
                                     "\t\"serial_number\":\"0412-3387\",\n"
                                     "\t\"location\":\"Hall 3, Miller's line, rack \\\"B\\\"\",\n"
                                     "\t\"install_component\":\"none\",\n"
                                     "\t\"reboot\":false,\n"
                                     "\t\"temperature_offset\":-2.5,\n"
                                     "\t\"utc_offset_minutes\":-60,\n"
                                     "\t\"network\":\n"
                                     "\t{\n"
                                     "\t\t\"dhcp\":false,\n"
                                     "\t\t\"ip_address\":\"192.168.1.50\",\n"
                                     "\t\t\"netmask\":\"255.255.255.0\"\n"
                                     "\t},\n"
                                     "\t\"channels\":\n"
                                     "\t[\n"
                                     "\t\t\"di1\",\n"
                                     "\t\t\"di2\",\n"
                                     "\t\t\"do1\",\n"
                                     "\t\t\"do3\",\n"
                                     "\t\t\"ai1\",\n"
                                     "\t\t\"ao2\"\n"
                                     "\t]\n"
                                     "}";

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    size_t at = text.find(from);
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

// The data field of the last configuration write that contains part.
std::string writtenConfiguration(sim_server* device, const std::string& part)
{
    std::string found;
    for (const std::string& request : sim_requests(device)) {
        if (request.find("POST /cgi-bin/setParamToServer.cgi") != 0 || request.find(part) == std::string::npos)
            continue;
        size_t data = request.find("&data=");
        if (data != std::string::npos)
            found = request.substr(data + 6);
    }
    // The form and the request each end in a line feed.
    while (!found.empty() && found.back() == '\n')
        found.pop_back();
    return found;
}

// Package bytes that hold zero bytes and a line like the upload's separator.
std::string packageData()
{
    std::string data("BZh91AY&SY", 10);
    data += std::string("\0\r\n-----------------------------17933678425893\n", 48);
    for (int i = 0; i < 70000; ++i)
        data += (char)((i * 7919) >> 3);
    return data;
}

std::string readFixture(const char* name)
{
    std::ifstream in(std::string("..\\sig-fixtures\\") + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(UpdateWindow, WholeUpdateOfASignedPackageWithLoginMethod2)
{
    options.packageVersion = "2.1.0";
    options.installPolls = 3;
    // The upload's answer comes after the library's time-out, so the loading
    // state lasts until timer 1 collects it (a quick answer ends it at once).
    options.answerDelayMs = 3000;
    ASSERT_NO_FATAL_FAILURE(startAll());

    // Step 1: login, device read, configuration written back one member per line.
    ASSERT_NO_FATAL_FAILURE(check());
    EXPECT_EQ(field(1004), "OK");
    EXPECT_EQ(field(1011), "ORMI, Version 2.1.0");
    EXPECT_EQ(sim_configuration(device), repairedConfiguration);

    // Step 2: a package of the other type is refused, the fitting one loads.
    const char wrongName[] = "ORMI_demo_ormim_2.1.0.bz2";
    const char name[] = "ORMI_demo_ormi_2.2.0.bz2";
    std::string data = packageData();
    ASSERT_TRUE(readFixture("window.bin") == data) << "tests/sig_fixtures.sh signs other bytes";
    std::string key = readFixture("vendor.pub.pem"), signature = readFixture("window.bin.sig");
    ASSERT_NO_FATAL_FAILURE(writePackage("trusted_keys.pem", key));
    ASSERT_NO_FATAL_FAILURE(writePackage(wrongName, data));
    ASSERT_NO_FATAL_FAILURE(writePackage(name, data));
    ASSERT_NO_FATAL_FAILURE(writePackage((std::string(name) + ".sig").c_str(), signature));
    ASSERT_NO_FATAL_FAILURE(choosePackage(path(wrongName)));
    EXPECT_EQ(field(1006), wrongName);
    ASSERT_TRUE(drv_postCommand(window, 1008));
    EXPECT_EQ(confirmBox(), "Das Gerät ist vom Typ ORMI. Das Package muss dazu passen.");
    EXPECT_EQ(sim_lastUpload(device).fileName, "");

    ASSERT_NO_FATAL_FAILURE(choosePackage(path(name)));
    EXPECT_EQ(field(1006), name);
    ASSERT_TRUE(drv_postCommand(window, 1008));
    EXPECT_EQ(waitField(1009, "wird geladen ..."), "wird geladen ...");
    EXPECT_FALSE(enabled(1008));
    EXPECT_TRUE(shown(1015));
    EXPECT_EQ(waitField(1009, "OK"), "OK");
    EXPECT_TRUE(waitEnabled(1008, true));
    EXPECT_FALSE(shown(1015));
    sim_upload upload = sim_lastUpload(device);
    EXPECT_EQ(upload.fileName, name);
    EXPECT_TRUE(upload.passwordOk);
    EXPECT_EQ(upload.size, data.size());
    EXPECT_TRUE(upload.data == data) << "stored bytes differ";
    md5_context context;
    unsigned char raw[16];
    md5_init(&context);
    md5_update(&context, (const unsigned char*)data.data(), (int)data.size());
    md5_final(&context, raw);
    char hex[33];
    for (int i = 0; i < 16; ++i)
        snprintf(hex + 2 * i, 3, "%02x", raw[i]);
    EXPECT_EQ(upload.md5, hex);

    // Step 3: the status follows "content" until "state" is no longer "run".
    ASSERT_TRUE(drv_postCommand(window, 1012));
    std::vector<std::string> seen;
    DWORD start = GetTickCount();
    bool barShownWhileRunning = true;
    int runningLooks = 0;
    while (elapsedSince(start) < 20000) {
        std::string text = field(1013);
        if (!text.empty() && (seen.empty() || seen.back() != text))
            seen.push_back(text);
        // The button is still enabled until the posted command is taken; a
        // sent WM_GETTEXT is answered before it.
        if (enabled(1012) && !seen.empty())
            break;
        // The window shows the bar before it disables the button and hides
        // it before it enables the button again, so the bar counts only
        // while the button is disabled before and after the look at it: a
        // look before the command is taken or during its last step says
        // nothing.
        bool runningBefore = !enabled(1012);
        bool bar = shown(1014);
        if (runningBefore && !enabled(1012)) {
            ++runningLooks;
            barShownWhileRunning = barShownWhileRunning && bar;
        }
        Sleep(50);
    }
    std::string package = name;
    std::vector<std::string> expected = {
        "installation started",
        "installing " + package + ": step 1 of 3",
        "installing " + package + ": step 2 of 3",
        "installing " + package + ": step 3 of 3",
        "installation of " + package + " finished",
    };
    EXPECT_EQ(seen, expected);
    EXPECT_GT(runningLooks, 0) << "the installation was never seen running";
    EXPECT_TRUE(barShownWhileRunning);
    EXPECT_TRUE(enabled(1012));
    EXPECT_FALSE(shown(1014));
    EXPECT_EQ(writtenConfiguration(device, "\"install_component\":\"package\""),
              replaced(repairedConfiguration, "\"install_component\":\"none\"", "\"install_component\":\"package\""));

    // Step 4: the request carries "reboot" true; 80 ticks of one second.
    sim_clearRequests(device);
    ASSERT_TRUE(drv_postCommand(window, 1016));
    start = GetTickCount();
    EXPECT_EQ(waitField(1018, "Reboot wird ausgeführt ..."), "Reboot wird ausgeführt ...");
    EXPECT_FALSE(enabled(1016));
    EXPECT_TRUE(shown(1017));
    EXPECT_EQ(writtenConfiguration(device, "\"reboot\":true"),
              replaced(repairedConfiguration, "\"reboot\":false", "\"reboot\":true"));
    if (elapsedSince(start) < 40000)
        Sleep(40000 - elapsedSince(start));
    int position = barPosition(1017);
    EXPECT_GE(position, 36);
    EXPECT_LE(position, 41);
    EXPECT_EQ(field(1018), "Reboot wird ausgeführt ...");
    EXPECT_FALSE(enabled(1016));
    EXPECT_EQ(sim_requests(device).size(), 2u) << "the device is asked nothing during the reboot";
    EXPECT_EQ(waitField(1018, "Reboot beendet", 50000), "Reboot beendet");
    DWORD took = elapsedSince(start);
    EXPECT_GE(took, 79000u);
    EXPECT_LE(took, 86000u);
    EXPECT_TRUE(enabled(1016));
    EXPECT_FALSE(shown(1017));
    EXPECT_EQ(barPosition(1017), 80);
    // Then it is asked once: it runs the new package, and nothing more is said.
    EXPECT_EQ(field(1011), "ORMI, Version 2.2.0");
    EXPECT_EQ(field(1004), "OK");
    EXPECT_TRUE(noBox(2000));
    EXPECT_EQ(sim_requests(device).size(), 6u) << "reboot request, login, one configuration read, each after a TAN";
}

} // namespace
