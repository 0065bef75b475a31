// The update steps through the updater's window against the simulated
// device: failed and refused checks, configurations that are not written
// back, package names that do not fit, failed and slow uploads, an
// installation whose device stops answering, and steps that must send
// nothing.
#include "debug_monitor.h"
#include "workflow_fixture.h"

#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace workflow_test;

namespace {

bool hasLine(const std::vector<std::string>& lines, const std::string& line)
{
    for (const std::string& l : lines)
        if (l == line)
            return true;
    return false;
}

const char configurationRequest[] = "type=configuration&module=devicebase";
const char setRequest[] = "POST /cgi-bin/setParamToServer.cgi";

int countRequests(sim_server* device, const std::string& part)
{
    int count = 0;
    for (const std::string& request : sim_requests(device))
        count += request.find(part) != std::string::npos;
    return count;
}

std::string packageBytes(size_t size)
{
    std::string data;
    unsigned value = 12345;
    for (size_t i = 0; i < size; ++i) {
        value = value * 1103515245u + 12345u;
        data += (char)(value >> 16);
    }
    return data;
}

TEST_F(UpdateWindow, CheckFailureShowsErrorAndStaysReady)
{
    struct Case {
        const char* name;
        const char* password;
        bool deviceRuns;
    } cases[] = {
        { "wrong password", "wrong", true },
        { "no device listening", devicePassword, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(startAll());
        std::string stored = sim_configuration(device);
        if (!c.deviceRuns) {
            sim_stop(device);
            device = nullptr;
        }
        ASSERT_TRUE(drv_setItemText(window, 1003, c.password));
        ASSERT_TRUE(drv_postCommand(window, 1005));
        EXPECT_EQ(waitField(1004, "ERROR"), "ERROR");
        EXPECT_TRUE(waitEnabled(1005, true));
        EXPECT_EQ(field(1011), "");
        if (device) {
            EXPECT_EQ(sim_configuration(device), stored);
            EXPECT_EQ(countRequests(device, setRequest), 0);
        }
        TearDown();
        SetUp();
    }
}

TEST_F(UpdateWindow, CheckWithoutPackageVersionRefusesForTheRestOfTheRun)
{
    ASSERT_NO_FATAL_FAILURE(startAll());
    std::string stored = sim_configuration(device);
    sim_setOverride(device, configurationRequest, "HTTP/1.1 200 OK\n\nno configuration\n");
    ASSERT_TRUE(drv_postCommand(window, 1005));
    EXPECT_EQ(confirmBox(), "Sorry. Mit der vorhandenen Firmware kann kein Package geladen werden.");
    EXPECT_EQ(field(1004), "OK");
    EXPECT_EQ(field(1011), "");
    EXPECT_EQ(sim_configuration(device), stored);
    EXPECT_EQ(countRequests(device, setRequest), 0);
    // A device that answers again does not bring "Check" back.
    sim_setOverride(device, configurationRequest, "");
    Sleep(1500);
    EXPECT_FALSE(enabled(1005));
}

TEST_F(UpdateWindow, AnswersCutByAResetAreNoAnswersAtCheck)
{
    // The device takes the login, then resets every other answer halfway:
    // its configuration is neither shown nor written back.
    ASSERT_NO_FATAL_FAILURE(startAll());
    std::string stored = sim_configuration(device);
    sim_setFault(device, "reset-mid-answer");
    ASSERT_TRUE(drv_postCommand(window, 1005));
    EXPECT_EQ(confirmBox(), "Sorry. Mit der vorhandenen Firmware kann kein Package geladen werden.");
    EXPECT_EQ(field(1004), "OK");
    EXPECT_EQ(field(1011), "");
    sim_setFault(device, "");
    EXPECT_EQ(sim_configuration(device), stored);
    EXPECT_EQ(countRequests(device, setRequest), 0);
}

TEST_F(UpdateWindow, ConfigurationThatWouldBeCutIsNotWrittenBack)
{
    DebugMonitor monitor;
    ASSERT_TRUE(monitor.start());
    ASSERT_NO_FATAL_FAILURE(startAll());
    std::string stored = sim_configuration(device);
    // Longer than the library's answer buffer: what arrives is cut.
    std::string text = "{\n\"package_version\": \"2.1.0\",\n\"notes\": \"" + std::string(5000, 'n') + "\"\n}\n";
    sim_setOverride(device, configurationRequest, "HTTP/1.1 200 OK\n\n" + text);
    ASSERT_NO_FATAL_FAILURE(check());
    EXPECT_EQ(field(1011), "ORMI, Version 2.1.0");
    EXPECT_EQ(countRequests(device, setRequest), 0);
    EXPECT_EQ(sim_configuration(device), stored);
    Sleep(200);
    std::vector<std::string> lines = monitor.of(process.dwProcessId);
    monitor.stop();
    EXPECT_TRUE(hasLine(lines, "---> devicebase incomplete, not written"));
    EXPECT_FALSE(hasLine(lines, "---> devicebase corrected"));
    // Nor is the reboot request made from it.
    sim_clearRequests(device);
    ASSERT_TRUE(drv_postCommand(window, 1016));
    EXPECT_EQ(confirmBox(), "Bitte zuerst die Verbindung zum ORMI/ORMI-M prüfen (Check).");
    EXPECT_EQ(countRequests(device, setRequest), 0);
}

TEST_F(UpdateWindow, PackageThatDoesNotFitTheDeviceIsRefused)
{
    struct Case {
        const char *version, *file, *message;
    } cases[] = {
        { "2.1.0", "ORMI_pkg_ormim_2.1.0.bz2", "Das Gerät ist vom Typ ORMI. Das Package muss dazu passen." },
        { "2.1.0m", "ORMI_pkg_ormi_2.1.0m.bz2", "Das Gerät ist vom Typ ORMI-M. Das Package muss dazu passen." },
        { "2.1.0-rc", "ORMI_pkg_ormi_2.1.0.bz2", "Der ORMI/ORMI-M hat die Version -rc. Das Package muss dazu passen." },
        { "2.1.0x", "ORMI_pkg_ormim_2.1.0.bz2", "Der ORMI/ORMI-M hat die Version x. Das Package muss dazu passen." },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        options.packageVersion = c.version;
        ASSERT_NO_FATAL_FAILURE(startAll());
        ASSERT_NO_FATAL_FAILURE(check());
        ASSERT_NO_FATAL_FAILURE(writePackage(c.file, "package"));
        ASSERT_NO_FATAL_FAILURE(choosePackage(path(c.file)));
        EXPECT_EQ(field(1006), c.file);
        ASSERT_TRUE(drv_postCommand(window, 1008));
        EXPECT_EQ(confirmBox(), c.message);
        EXPECT_EQ(field(1009), "");
        EXPECT_TRUE(enabled(1008));
        EXPECT_FALSE(shown(1015));
        EXPECT_EQ(sim_lastUpload(device).fileName, "");
        TearDown();
        SetUp();
    }
}

// trusted_keys.pem beside the program: a package without a valid signature
// by one of its keys is not even opened for the device.
TEST_F(UpdateWindow, PackageWithoutTrustedSignatureIsNotLoaded)
{
    auto fixture = [](const char* name) {
        std::ifstream in(std::string("..\\sig-fixtures\\") + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    std::string package = fixture("signed.bz2"), signature = fixture("signed.bz2.sig");
    ASSERT_GT(package.size(), 100u) << "made by tests/sig_fixtures.sh";
    const char untrusted[] = "Das Package ist nicht von einem vertrauenswürdigen Schlüssel signiert. Es wird nicht "
                             "geladen.";
    struct Case {
        const char* what;
        std::string keys, data, signature; // signature "" : no .sig file
        std::string message;
    } cases[] = {
        { "no signature", fixture("vendor.pub.pem"), package, "",
          "Zum Package gibt es keine Signatur (ORMI_pkg_ormi_2.1.0.bz2.sig). Es wird nicht geladen." },
        { "changed after signing", fixture("vendor.pub.pem"), fixture("changed.bz2"), signature, untrusted },
        { "signed by another key", fixture("vendor.pub.pem"), package, fixture("other.sig"), untrusted },
        { "a cut signature", fixture("vendor.pub.pem"), package, fixture("cut.sig"), untrusted },
        { "a key file that is no key", fixture("notakey.pem"), package, signature,
          "Die Datei trusted_keys.pem enthält keinen lesbaren Schlüssel. Es wird kein Package geladen." },
    };
    const char name[] = "ORMI_pkg_ormi_2.1.0.bz2";
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_NO_FATAL_FAILURE(check());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(writePackage("trusted_keys.pem", c.keys));
        ASSERT_NO_FATAL_FAILURE(writePackage(name, c.data));
        DeleteFileA(path("ORMI_pkg_ormi_2.1.0.bz2.sig").c_str());
        if (!c.signature.empty()) {
            ASSERT_NO_FATAL_FAILURE(writePackage("ORMI_pkg_ormi_2.1.0.bz2.sig", c.signature));
        }
        ASSERT_NO_FATAL_FAILURE(choosePackage(path(name)));
        ASSERT_TRUE(drv_postCommand(window, 1008));
        EXPECT_EQ(confirmBox(), c.message);
        EXPECT_EQ(field(1009), "");
        EXPECT_TRUE(enabled(1008));
        EXPECT_FALSE(shown(1015));
        EXPECT_EQ(countRequests(device, "setUpdateFileToServer"), 0);
    }
    // The signed package then loads.
    ASSERT_NO_FATAL_FAILURE(writePackage("trusted_keys.pem", fixture("both.pub.pem")));
    ASSERT_NO_FATAL_FAILURE(writePackage(name, package));
    ASSERT_NO_FATAL_FAILURE(writePackage("ORMI_pkg_ormi_2.1.0.bz2.sig", signature));
    ASSERT_NO_FATAL_FAILURE(choosePackage(path(name)));
    ASSERT_TRUE(drv_postCommand(window, 1008));
    EXPECT_EQ(waitField(1009, "OK"), "OK");
    EXPECT_TRUE(sim_lastUpload(device).data == package);
    EXPECT_TRUE(noBox(300));
}

TEST_F(UpdateWindow, FailedUploadEndsTheStepAndCanBeRepeated)
{
    options.loginMethod = 1;
    ASSERT_NO_FATAL_FAILURE(startDevice());
    // First a port where nobody listens, so that nothing can be sent.
    sim_server* gone = sim_start(options);
    ASSERT_NE(gone, nullptr);
    int deadPort = sim_port(gone);
    sim_stop(gone);
    std::string settings = "[IP]\r\nip_address=127.0.0.1\r\nip_port=" + std::to_string(deadPort) +
                           "\r\n[LOGIN]\r\nusername=admin\r\npassword=secret\r\n"
                           "login_version=1\r\n[CONTROL]\r\ntimeout=1\r\n";
    ASSERT_TRUE(drv_writeFile(folder, "ormi_control.ini", settings.data(), (DWORD)settings.size()));
    ASSERT_NO_FATAL_FAILURE(startUpdater());
    const char name[] = "ORMI_pkg_ormi_2.1.0.bz2";
    std::string data = packageBytes(3000);
    ASSERT_NO_FATAL_FAILURE(writePackage(name, data));
    ASSERT_NO_FATAL_FAILURE(choosePackage(path(name)));
    ASSERT_TRUE(drv_postCommand(window, 1008));
    EXPECT_EQ(confirmBox(), "Beim Laden der Datei ORMI_pkg_ormi_2.1.0.bz2 ist ein Fehler "
                            "aufgetreten!");
    EXPECT_TRUE(waitEnabled(1008, true));
    EXPECT_EQ(waitField(1009, "ERROR"), "ERROR");
    EXPECT_FALSE(shown(1015));

    size_t portAt = settings.find(std::to_string(deadPort));
    settings.replace(portAt, std::to_string(deadPort).size(), std::to_string(sim_port(device)));
    ASSERT_TRUE(drv_writeFile(folder, "ormi_control.ini", settings.data(), (DWORD)settings.size()));
    ASSERT_TRUE(drv_postCommand(window, 1008));
    EXPECT_EQ(waitField(1009, "OK"), "OK");
    EXPECT_TRUE(waitEnabled(1008, true));
    EXPECT_FALSE(shown(1015));
    sim_upload upload = sim_lastUpload(device);
    EXPECT_EQ(upload.fileName, name);
    EXPECT_TRUE(upload.data == data) << "stored " << upload.size << " bytes";
    EXPECT_TRUE(noBox(500));
}

TEST_F(UpdateWindow, StepsWriteTheirDebugLines)
{
    DebugMonitor monitor;
    ASSERT_TRUE(monitor.start());
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_NO_FATAL_FAILURE(check());
    const char name[] = "ORMI_pkg_ormi_2.1.0.bz2";
    ASSERT_NO_FATAL_FAILURE(writePackage(name, packageBytes(3000)));
    ASSERT_NO_FATAL_FAILURE(choosePackage(path(name)));
    ASSERT_TRUE(drv_postCommand(window, 1008));
    EXPECT_EQ(waitField(1009, "OK"), "OK");
    ASSERT_TRUE(drv_postCommand(window, 1016));
    EXPECT_EQ(waitField(1018, "Reboot wird ausgeführt ..."), "Reboot wird ausgeführt ...");
    Sleep(200);
    std::vector<std::string> lines = monitor.of(process.dwProcessId);
    monitor.stop();
    for (const std::string& line : {
             std::string("---> devicebase corrected"),
             std::string(name),
             path(name),
             std::string("type = _ormi_, version = "),
             std::string("loading"),
             std::string("len file: 3000"),
             std::string("len readed: 3000, state: 1"),
             std::string("send UpdateFile ") + name + " with len = 3000",
             std::string("*** Reboot ausfuehren ***"),
         })
        EXPECT_TRUE(hasLine(lines, line)) << line;
}

TEST_F(UpdateWindow, CancelledDialogKeepsTheNameAndLoadsNothing)
{
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_NO_FATAL_FAILURE(check());
    const char name[] = "ORMI_pkg_ormi_2.1.0.bz2";
    ASSERT_NO_FATAL_FAILURE(writePackage(name, "package"));
    ASSERT_NO_FATAL_FAILURE(choosePackage(path(name)));
    ASSERT_NO_FATAL_FAILURE(choosePackage(""));
    EXPECT_EQ(field(1006), name);
    ASSERT_TRUE(drv_postCommand(window, 1008));
    EXPECT_TRUE(noBox(1500));
    EXPECT_EQ(field(1009), "");
    EXPECT_TRUE(enabled(1008));
    EXPECT_EQ(sim_lastUpload(device).fileName, "");
}

TEST_F(UpdateWindow, SlowAnswerIsPolledAndOnlyThenReportsOk)
{
    // Ticks fall due while the upload thread still waits inside the send.
    options.answerDelayMs = 5000;
    ASSERT_NO_FATAL_FAILURE(startDevice());
    std::string settings = "[IP]\r\nip_port=" + std::to_string(sim_port(device)) +
                           "\r\n[LOGIN]\r\nlogin_version=2\r\n[CONTROL]\r\ntimeout=3\r\n";
    ASSERT_TRUE(drv_writeFile(folder, "ormi_control.ini", settings.data(), (DWORD)settings.size()));
    ASSERT_NO_FATAL_FAILURE(startUpdater());
    ASSERT_TRUE(drv_setItemText(window, 1001, "127.0.0.1"));
    ASSERT_TRUE(drv_setItemText(window, 1002, deviceUser));
    ASSERT_TRUE(drv_setItemText(window, 1003, devicePassword));
    ASSERT_NO_FATAL_FAILURE(check());
    const char name[] = "ORMI_pkg_ormi_2.1.0.bz2";
    std::string data = packageBytes(20000);
    ASSERT_NO_FATAL_FAILURE(writePackage(name, data));
    ASSERT_NO_FATAL_FAILURE(choosePackage(path(name)));
    ASSERT_TRUE(drv_postCommand(window, 1008));
    DWORD start = GetTickCount();
    EXPECT_EQ(waitField(1009, "wird geladen ..."), "wird geladen ...");
    // Until the device answers the step shows it is loading.
    while (elapsedSince(start) < 4000) {
        ASSERT_EQ(field(1009), "wird geladen ...") << "after " << elapsedSince(start) << " ms";
        ASSERT_FALSE(enabled(1008));
        ASSERT_TRUE(shown(1015));
        Sleep(100);
    }
    EXPECT_EQ(waitField(1009, "OK", 8000), "OK");
    EXPECT_GE(elapsedSince(start), 4500u);
    EXPECT_TRUE(enabled(1008));
    EXPECT_FALSE(shown(1015));
    sim_upload upload = sim_lastUpload(device);
    EXPECT_TRUE(upload.passwordOk);
    EXPECT_TRUE(upload.data == data) << "stored " << upload.size << " bytes";
    // The answer was taken once: the step stays over.
    Sleep(2000);
    EXPECT_EQ(field(1009), "OK");
    EXPECT_TRUE(enabled(1008));
}

TEST_F(UpdateWindow, ClosingDuringAnUploadEndsTheProgramNormally)
{
    options.answerDelayMs = 4000;
    ASSERT_NO_FATAL_FAILURE(startAll());
    const char name[] = "ORMI_pkg_ormi_2.1.0.bz2";
    ASSERT_NO_FATAL_FAILURE(writePackage(name, packageBytes(50000)));
    ASSERT_NO_FATAL_FAILURE(choosePackage(path(name)));
    ASSERT_TRUE(drv_postCommand(window, 1008));
    EXPECT_EQ(waitField(1009, "wird geladen ..."), "wird geladen ...");
    ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
    DWORD code = 12345;
    EXPECT_TRUE(drv_waitExit(&process, DRV_WAIT_MS, &code));
    EXPECT_EQ(code, 0u);
    window = NULL;
}

TEST_F(UpdateWindow, InstallationGoesOnWhenTheDeviceAnswersAgain)
{
    options.installPolls = 2;
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_NO_FATAL_FAILURE(check());
    sim_clearRequests(device);
    ASSERT_TRUE(drv_postCommand(window, 1012));
    EXPECT_EQ(waitField(1013, "installation started"), "installation started");
    sim_setFault(device, "silent");
    // Ticks without an answer change nothing.
    DWORD start = GetTickCount();
    while (elapsedSince(start) < 4000) {
        ASSERT_EQ(field(1013), "installation started");
        ASSERT_FALSE(enabled(1012));
        ASSERT_TRUE(shown(1014));
        Sleep(100);
    }
    sim_setFault(device, "");
    // Nothing was uploaded, so the device reports the failure and stops.
    EXPECT_EQ(waitField(1013, "installation failed: no package uploaded"), "installation failed: no package uploaded");
    EXPECT_TRUE(waitEnabled(1012, true));
    EXPECT_FALSE(shown(1014));
    EXPECT_EQ(countRequests(device, "\"install_component\":\"package\""), 1);
}

TEST_F(UpdateWindow, InstallWithoutConfigurationWritesNothing)
{
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_NO_FATAL_FAILURE(check());
    std::string stored = sim_configuration(device);
    sim_setFault(device, "silent");
    sim_clearRequests(device);
    ASSERT_TRUE(drv_postCommand(window, 1012));
    EXPECT_EQ(confirmBox(), "Das Gerät antwortet nicht. Die Installation wurde nicht gestartet.");
    sim_setFault(device, "");
    EXPECT_EQ(countRequests(device, setRequest), 0);
    EXPECT_EQ(sim_configuration(device), stored);
    EXPECT_EQ(field(1013), "");
    EXPECT_TRUE(enabled(1012));
    EXPECT_FALSE(shown(1014));
}

TEST_F(UpdateWindow, RebootBeforeCheckSendsNothing)
{
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_TRUE(drv_postCommand(window, 1016));
    EXPECT_EQ(confirmBox(), "Bitte zuerst die Verbindung zum ORMI/ORMI-M prüfen (Check).");
    EXPECT_TRUE(sim_requests(device).empty());
    EXPECT_EQ(field(1018), "");
    EXPECT_TRUE(enabled(1016));
    EXPECT_FALSE(shown(1017));
}

} // namespace
