// Package upload, installation and reboot of the simulated device.
#include <gtest/gtest.h>

#include "sim_client.h"
#include "simjson.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

const std::string hash = sim_hash("secret");

struct Device : sim_testDevice {
    using sim_testDevice::sim_testDevice;
    std::string upload(const std::string& name, const std::string& data, const std::string& password = hash)
    {
        return send(sim_uploadRequest(password, name, data), 10000);
    }
    std::string values()
    {
        return sim_body(send(sim_getRequest("admin", hash, "values", "devicebase")));
    }
    std::string writeConfiguration(const std::string& text)
    {
        return send(sim_setRequest("admin", hash, "configuration", "devicebase", text));
    }
};

// Zero bytes, CR LF pairs and a line that looks like the separator all
// belong to the package.
std::string trickyPackage()
{
    std::string data("BZh91AY&SY\0\0\x01\xff", 14);
    data += "\r\n\n" + sim_separator() + "\n";
    data += std::string("\0\n-----", 7);
    data += "\n";
    return data;
}

std::string configurationWith(const std::string& install, const std::string& reboot)
{
    return "{\n\t\"package_version\":\"2.1.0\",\n\t\"install_component\":" + install + ",\n\t\"reboot\":" + reboot +
           "\n}";
}

TEST(SimUpload, PackageIsRecordedAndStoredByteExact)
{
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "ormi_sim_store_test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    sim_options options;
    options.storeDir = dir.string();
    Device device(options);
    struct {
        const char* name;
        std::string data;
    } cases[] = {
        { "fw_ormi_2.1.0.bz2", trickyPackage() },
        { "empty_ormi_.bz2", "" },
        { "tail_ormi_.bz2", "x\n" + sim_separator() + "\n" },
        { "one_ormim_m.bz2", "\n" }, // last: its digest is checked below
    };
    for (const auto& c : cases) {
        std::string answer = device.upload(c.name, c.data);
        EXPECT_EQ(sim_statusLine(answer), "HTTP/1.1 200 OK") << c.name;
        sim_upload got = sim_lastUpload(device.server);
        EXPECT_EQ(got.fileName, c.name);
        EXPECT_EQ(got.data, c.data) << c.name;
        EXPECT_EQ(got.size, c.data.size()) << c.name;
        EXPECT_EQ(got.md5, sim_hash(c.data)) << c.name;
        EXPECT_TRUE(got.passwordOk) << c.name;
        std::ifstream file(dir / c.name, std::ios::binary);
        std::string stored((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_EQ(stored, c.data) << c.name;
        EXPECT_NE(sim_body(answer).find("size: " + std::to_string(c.data.size()) + "\n"), std::string::npos);
    }
    EXPECT_EQ(sim_lastUpload(device.server).md5, "68b329da9893e34099c7d8ad5cb9c940"); // md5 of "\n"
    sim_stop(device.server);
    device.server = nullptr;
    std::filesystem::remove_all(dir);
}

TEST(SimUpload, StandardMultipartWithPackageBeforeOtherPartsIsCutAtItsOwnSeparator)
{
    Device device;
    const std::string boundary = "------------------------abc123";
    std::string data = "bz\r\n" + boundary + "\r\nnot a header\r\n" + boundary + "--x";
    std::string body = boundary + "\r\nContent-Disposition: form-data; name=\"password\"\r\n\r\n" + hash + "\r\n" +
                       boundary + "\r\nContent-Disposition: form-data; name=\"package\"; filename=\"p_ormi_.bz2\"\r\n" +
                       "Content-Type: application/octet-stream\r\n\r\n" + data + "\r\n" + boundary +
                       "\r\nContent-Disposition: form-data; name=\"text\"\r\n\r\nloading finished\r\n" + boundary +
                       "--\r\n";
    std::string request = "POST /cgi-bin/setUpdateFileToServer.cgi HTTP/1.1\r\nContent-Type: multipart/form-data; "
                          "boundary=" +
                          boundary.substr(2) + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    EXPECT_EQ(sim_statusLine(device.send(request)), "HTTP/1.1 200 OK");
    sim_upload got = sim_lastUpload(device.server);
    EXPECT_EQ(got.fileName, "p_ormi_.bz2");
    EXPECT_EQ(got.data, data);
    EXPECT_TRUE(got.passwordOk);
}

TEST(SimUpload, FileNameCannotLeaveTheStoreDirectory)
{
    std::filesystem::path root = std::filesystem::temp_directory_path() / "ormi_sim_escape_test";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "store");
    sim_options options;
    options.storeDir = (root / "store").string();
    Device device(options);
    EXPECT_EQ(sim_statusLine(device.upload("../evil.bz2", "x")), "HTTP/1.1 200 OK");
    EXPECT_FALSE(std::filesystem::exists(root / "evil.bz2"));
    EXPECT_TRUE(std::filesystem::exists(root / "store" / "evil.bz2"));
    sim_stop(device.server);
    device.server = nullptr;
    std::filesystem::remove_all(root);
}

TEST(SimUpload, WrongPasswordIsRecordedButRefused)
{
    Device device;
    std::string answer = device.upload("fw_ormi_.bz2", "abc", sim_hash("guess"));
    EXPECT_EQ(sim_statusLine(answer), "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(answer.find("OK"), std::string::npos);
    sim_upload got = sim_lastUpload(device.server);
    EXPECT_EQ(got.data, "abc");
    EXPECT_FALSE(got.passwordOk);
    // A refused package is not installed.
    device.writeConfiguration(configurationWith("\"package\"", "false"));
    EXPECT_NE(device.values().find("\"state\": \"error\""), std::string::npos);
}

TEST(SimUpload, MethodTwoUploadNeedsAFreshTan)
{
    sim_options options;
    options.loginMethod = 2;
    Device device(options);
    std::string tan = sim_body(device.send(sim_getRequest("admin", hash, "single_id", "login")));
    EXPECT_EQ(sim_statusLine(device.upload("a.bz2", "1", sim_hash("secret" + tan))), "HTTP/1.1 200 OK");
    EXPECT_EQ(sim_statusLine(device.upload("a.bz2", "1", sim_hash("secret" + tan))), "HTTP/1.1 403 Forbidden");
}

TEST(SimUpload, BodyWithoutPackagePartIsRefused)
{
    Device device;
    std::string body = sim_separator() + "\nContent-Disposition: form-data; name=\"password\"\n\n" + hash + "\n" +
                       sim_separator() + "\n";
    std::string request =
        "POST /cgi-bin/setUpdateFileToServer.cgi HTTP/1.1\nContent-Length: " + std::to_string(body.size()) + "\n\n" +
        body;
    EXPECT_EQ(sim_statusLine(device.send(request)), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(sim_statusLine(device.send("POST /cgi-bin/setUpdateFileToServer.cgi HTTP/1.1\nContent-Length: 3\n\nabc")),
              "HTTP/1.1 400 Bad Request");
    EXPECT_TRUE(sim_lastUpload(device.server).fileName.empty());
}

TEST(SimUpload, AnswerDelayHoldsBackOnlyTheAnswer)
{
    sim_options options;
    options.answerDelayMs = 600;
    Device device(options);
    auto start = std::chrono::steady_clock::now();
    std::string answer = device.upload("a.bz2", "data");
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(sim_statusLine(answer), "HTTP/1.1 200 OK");
    EXPECT_GE(took, std::chrono::milliseconds(600));
    EXPECT_EQ(sim_lastUpload(device.server).data, "data");
}

TEST(SimUpload, TenMegabytePackageIsTakenQuickly)
{
    Device device;
    std::string data(10000000 - 700, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = (char)(i * 131 % 251);
    auto start = std::chrono::steady_clock::now();
    std::string answer = device.upload("big_ormi_.bz2", data);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(sim_statusLine(answer), "HTTP/1.1 200 OK");
    EXPECT_LT(took, std::chrono::seconds(8));
    sim_upload got = sim_lastUpload(device.server);
    EXPECT_EQ(got.size, data.size());
    EXPECT_EQ(got.md5, sim_hash(data));
}

TEST(SimInstall, ReportsRunForEachPollThenFinishes)
{
    sim_options options;
    options.installPolls = 2;
    Device device(options);
    device.upload("fw_ormi_2.1.0.bz2", "pkg");
    std::string text = configurationWith("\"package\"", "false");
    EXPECT_EQ(sim_body(device.writeConfiguration(text)), "OK\n");
    EXPECT_EQ(sim_configuration(device.server), text);
    const char* expected[][2] = {
        { "run", "installing fw_ormi_2.1.0.bz2: step 1 of 2" },
        { "run", "installing fw_ormi_2.1.0.bz2: step 2 of 2" },
        { "finished", "installation of fw_ormi_2.1.0.bz2 finished" },
        { "finished", "installation of fw_ormi_2.1.0.bz2 finished" },
    };
    for (const auto& e : expected) {
        std::string body = device.values();
        EXPECT_NE(body.find("\"state\": \"" + std::string(e[0]) + "\""), std::string::npos) << body;
        EXPECT_NE(body.find("\"content\": \"" + std::string(e[1]) + "\""), std::string::npos) << body;
    }
    // Done: the request is cleared, so writing the text back does not install again.
    EXPECT_EQ(sim_configuration(device.server), configurationWith("\"none\"", "false"));
}

TEST(SimInstall, WithoutUploadedPackageFailsWithAClearText)
{
    Device device;
    device.writeConfiguration(configurationWith("\"package\"", "false"));
    std::string body = device.values();
    EXPECT_NE(body.find("\"state\": \"error\""), std::string::npos) << body;
    EXPECT_NE(body.find("\"content\": \"installation failed: no package uploaded\""), std::string::npos) << body;
}

TEST(SimReboot, DeviceIsAbsentForTheRebootTimeThenBackWithRebootFalse)
{
    sim_options options;
    options.rebootSeconds = 1;
    Device device(options);
    for (const char* flag : { "\"true\"", "true" }) {
        std::string answer = device.writeConfiguration(configurationWith("\"none\"", flag));
        EXPECT_EQ(sim_body(answer), "OK\n") << flag;
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(sim_exchange(sim_port(device.server), "").connected) << flag;
        bool back = false;
        while (!back && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
            sim_sleepMs(50);
            back = sim_exchange(sim_port(device.server), sim_getRequest("admin", hash, "login", "login"))
                       .bytes.find("LOGIN OK") != std::string::npos;
        }
        auto absent = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(back) << flag;
        EXPECT_GE(absent, std::chrono::milliseconds(900)) << flag;
        EXPECT_EQ(sim_configuration(device.server), configurationWith("\"none\"", "false")) << flag;
    }
}

TEST(SimInstall, PackageNameGivesTheVersionByOneRule)
{
    struct {
        const char* name;
        const char* current;
        const char* version;
    } cases[] = {
        { "ORMI_demo_ormi_2.1.0.bz2", "2.0.9", "2.1.0" },
        { "fw_ormi_2.2.0.bz2", "2.1.0", "2.2.0" },
        { "fw_ormi_10.4.BZ2", "2.1.0", "10.4" },
        { "fw_ormim_2.2.0m.bz2", "2.1.0m", "2.2.0m" }, // the device's suffix stays with the version
        { "fw_ormi_2.2.0-rc.bz2", "2.1.0-rc", "2.2.0-rc" },
        { "fw_ormi_2.2.0.bz2", "2.1.0-rc", "2.2.0" }, // a package without the suffix
        { "fw_ormi_v.2.2.0..bz2", "2.1.0", "2.2.0" }, // outer dots dropped
        { "fw_2.0_ormi_3.bz2", "2.1.0", "3" },        // the last run only
        { "fw_ormi_2.2.0-beta.bz2", "2.1.0", "" },    // not at the end: no version
        { "fw_ormi_.bz2", "2.1.0", "" },
        { "fw_ormi_...bz2", "2.1.0", "" },
        { "fw_ormi_2.2.0.tar", "2.1.0", "" },
        { "m.bz2", "2.1.0m", "" },
        { "", "2.1.0", "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(sim_packageVersion(c.name, c.current), c.version) << c.name << " on " << c.current;
}

// Writes the configuration text (a reboot request) and reads the version once the device is back.
std::string versionAfterReboot(Device& device, const std::string& text)
{
    device.writeConfiguration(text);
    for (int i = 0; i < 300; ++i) {
        std::string answer = device.send(sim_getRequest("admin", hash, "configuration", "devicebase"), 500);
        if (sim_statusLine(answer) == "HTTP/1.1 200 OK")
            return simjson_memberText(sim_body(answer), "package_version");
        sim_sleepMs(20);
    }
    return "not back";
}

// Upload, install until finished, reboot, and the version the device then reports.
std::string versionAfterUpdate(Device& device, const std::string& name, std::string* beforeReboot)
{
    device.upload(name, "pkg");
    device.writeConfiguration(configurationWith("\"package\"", "false"));
    for (int i = 0; i < 20 && device.values().find("\"finished\"") == std::string::npos; ++i)
        sim_sleepMs(10);
    *beforeReboot = simjson_memberText(sim_configuration(device.server), "package_version");
    return versionAfterReboot(device, configurationWith("\"none\"", "true"));
}

TEST(SimInstall, DeviceComesBackWithThePackagesVersionUnlessItKeepsItsOwn)
{
    struct {
        const char* fault;
        const char* name;
        const char* after;
    } cases[] = {
        { "", "fw_ormi_2.2.0.bz2", "2.2.0" },
        { "", "fw_ormi_.bz2", "2.1.0" },
        { "keep-version", "fw_ormi_2.2.0.bz2", "2.1.0" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", fault '" + c.fault + "'");
        sim_options options;
        options.installPolls = 1;
        options.rebootSeconds = 0;
        options.fault = c.fault;
        Device device(options);
        std::string beforeReboot;
        EXPECT_EQ(versionAfterUpdate(device, c.name, &beforeReboot), c.after);
        EXPECT_EQ(beforeReboot, "2.1.0") << "the new version counts from the reboot on";
    }
    // A later reboot without an installation leaves the version alone.
    sim_options options;
    options.installPolls = 1;
    options.rebootSeconds = 0;
    Device device(options);
    std::string ignored;
    EXPECT_EQ(versionAfterUpdate(device, "fw_ormi_2.2.0.bz2", &ignored), "2.2.0");
    std::string text = configurationWith("\"none\"", "true");
    ASSERT_TRUE(simjson_replaceMember(text, "package_version", "\"2.2.1\""));
    EXPECT_EQ(versionAfterReboot(device, text), "2.2.1");
}

TEST(SimReboot, DevicesOfAGroupRebootAndInstallEachOnItsOwn)
{
    std::vector<sim_options> devices(3);
    for (sim_options& o : devices)
        o.installPolls = 1;
    devices[0].rebootSeconds = 2;
    devices[1].password = "other";
    sim_group* group = sim_startGroup(devices, nullptr);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(sim_groupSize(group), 3u);
    EXPECT_EQ(sim_groupDevice(group, 3), nullptr);
    int first = sim_port(sim_groupDevice(group, 0)), second = sim_port(sim_groupDevice(group, 1)),
        third = sim_port(sim_groupDevice(group, 2));
    EXPECT_NE(
        sim_body(sim_exchange(third, sim_uploadRequest(hash, "fw_ormi_2.2.0.bz2", "pkg")).bytes).find("upload OK"),
        std::string::npos);
    sim_exchange(first,
                 sim_setRequest("admin", hash, "configuration", "devicebase", configurationWith("\"none\"", "true")));
    ASSERT_FALSE(sim_exchange(first, "", 200).connected) << "the first one reboots";
    // Meanwhile the others answer at once, each with its own password and state.
    auto start = std::chrono::steady_clock::now();
    std::string hashOther = sim_hash("other");
    EXPECT_EQ(sim_body(sim_exchange(second, sim_getRequest("admin", hashOther, "login", "login")).bytes), "LOGIN OK\n");
    EXPECT_EQ(sim_body(sim_exchange(second, sim_getRequest("admin", hash, "login", "login")).bytes), "login refused\n");
    EXPECT_EQ(sim_lastUpload(sim_groupDevice(group, 1)).fileName, "");
    EXPECT_EQ(sim_lastUpload(sim_groupDevice(group, 2)).fileName, "fw_ormi_2.2.0.bz2");
    sim_exchange(
        third, sim_setRequest("admin", hash, "configuration", "devicebase", configurationWith("\"package\"", "false")));
    EXPECT_NE(
        sim_body(sim_exchange(third, sim_getRequest("admin", hash, "values", "devicebase")).bytes).find("\"run\""),
        std::string::npos);
    EXPECT_NE(sim_body(sim_exchange(second, sim_getRequest("admin", hashOther, "values", "devicebase")).bytes)
                  .find("\"idle\""),
              std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_FALSE(sim_exchange(first, "", 200).connected) << "still rebooting";
    sim_stopGroup(group);
}

} // namespace
