// What the updater says once the reboot's 80 seconds are over, for the three
// ways a device comes back: with the new package, still with the old one, or
// not at all. Three updaters against three simulated devices side by side,
// so that the three reboots share one wait. With ORMI_SHOTS_DIR set, each
// message (for the new package, the window) is also saved there as a picture
// (<outcome>.bmp).
#include "workflow_fixture.h"

#include <stdlib.h>

#include <string>

using namespace workflow_test;

namespace {

// One updater with its device; the fixture's steps, several at a time.
struct Station : UpdateWindow {
    void TestBody() override {}
};

struct Outcome {
    const char* name;
    const char* fault;   // of the simulated device
    int rebootSeconds;   // how long the device stays away
    bool install;        // a package is uploaded and installed first
    const char* device;  // field 1011 afterwards
    const char* check;   // field 1004 afterwards
    const char* message; // the message box, "" for none
};

const Outcome outcomes[] = {
    { "new-version", "", 5, true, "ORMI, Version 2.2.0", "OK", "" },
    { "keep-version", "keep-version", 5, true, "ORMI, Version 2.1.0", "OK",
      "Das Gerät meldet nach dem Neustart weiterhin die Version 2.1.0." },
    { "stays-away", "", 600, false, "ORMI, Version 2.1.0", "ERROR", "Das Gerät antwortet nach dem Neustart nicht." },
};
const int stationCount = sizeof outcomes / sizeof outcomes[0];

void prepare(Station& s, const Outcome& outcome)
{
    s.options.packageVersion = "2.1.0";
    s.options.installPolls = 1;
    s.options.fault = outcome.fault;
    s.options.rebootSeconds = outcome.rebootSeconds;
    ASSERT_NO_FATAL_FAILURE(s.startAll());
    ASSERT_NO_FATAL_FAILURE(s.check());
    ASSERT_EQ(s.field(1011), "ORMI, Version 2.1.0");
    if (!outcome.install)
        return;
    const char name[] = "ORMI_demo_ormi_2.2.0.bz2";
    ASSERT_NO_FATAL_FAILURE(s.writePackage(name, std::string("BZh91AY&SY package bytes", 24)));
    ASSERT_NO_FATAL_FAILURE(s.choosePackage(s.path(name)));
    ASSERT_TRUE(drv_postCommand(s.window, 1008));
    ASSERT_EQ(s.waitField(1009, "OK"), "OK");
    ASSERT_TRUE(s.waitEnabled(1008, true));
    ASSERT_TRUE(drv_postCommand(s.window, 1012));
    ASSERT_TRUE(s.waitEnabled(1012, false));
    ASSERT_TRUE(s.waitEnabled(1012, true, 20000)) << "installation did not end";
    ASSERT_EQ(s.field(1013), std::string("installation of ") + name + " finished");
}

TEST(RebootOutcome, UpdaterSaysWhatTheDeviceCameBackWith)
{
    Station stations[stationCount];
    for (int i = 0; i < stationCount; ++i) {
        SCOPED_TRACE(outcomes[i].name);
        stations[i].SetUp();
        ASSERT_NO_FATAL_FAILURE(prepare(stations[i], outcomes[i]));
    }
    for (Station& s : stations) {
        sim_clearRequests(s.device);
        ASSERT_TRUE(drv_postCommand(s.window, 1016));
    }
    DWORD start = GetTickCount();
    for (Station& s : stations)
        ASSERT_EQ(s.waitField(1018, "Reboot wird ausgeführt ..."), "Reboot wird ausgeführt ...");

    // Nothing is asked during the 80 seconds, and "Reboot beendet" stays.
    const char* shots = getenv("ORMI_SHOTS_DIR");
    for (int i = 0; i < stationCount; ++i) {
        SCOPED_TRACE(outcomes[i].name);
        Station& s = stations[i];
        const Outcome& o = outcomes[i];
        EXPECT_EQ(s.waitField(1018, "Reboot beendet", 90000), "Reboot beendet");
        EXPECT_GE(elapsedSince(start), 79000u);
        if (o.message[0] != '\0') {
            HWND box = drv_findMessageBox(s.process.dwProcessId, caption, DRV_WAIT_MS);
            ASSERT_NE(box, (HWND)NULL) << "no message";
            // The warning icon: a static control showing an icon.
            HWND icon = FindWindowExA(box, NULL, "Static", NULL);
            bool iconShown = false;
            for (; icon != NULL; icon = FindWindowExA(box, icon, "Static", NULL))
                iconShown = iconShown || (GetWindowLongA(icon, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
            EXPECT_TRUE(iconShown);
            if (shots != NULL) {
                std::string picture = std::string(shots) + "\\" + o.name + ".bmp";
                EXPECT_TRUE(drv_saveWindowImage(box, picture.c_str())) << picture;
            }
            EXPECT_EQ(s.confirmBox(), o.message);
        } else {
            EXPECT_TRUE(s.noBox(3000)) << "a message for a device that came back with the new package";
            if (shots != NULL) {
                std::string picture = std::string(shots) + "\\" + o.name + ".bmp";
                EXPECT_TRUE(drv_saveWindowImage(s.window, picture.c_str())) << picture;
            }
        }
        EXPECT_EQ(s.field(1011), o.device);
        EXPECT_EQ(s.field(1004), o.check);
        EXPECT_EQ(s.field(1018), "Reboot beendet");
        EXPECT_TRUE(s.enabled(1016));
        EXPECT_FALSE(s.shown(1017));
        // One look: the login, and the version only from a device that
        // answered; the one write is the reboot request.
        int versionReads = 0, writes = 0;
        for (const std::string& request : sim_requests(s.device)) {
            versionReads += request.find("GET ") == 0 &&
                            request.find("&type=configuration&module=devicebase ") != std::string::npos;
            writes += request.find("POST /cgi-bin/setParamToServer.cgi") == 0;
        }
        EXPECT_EQ(versionReads, o.check == std::string("OK") ? 1 : 0);
        EXPECT_EQ(writes, 1);
    }
    for (Station& s : stations)
        s.TearDown();
}

} // namespace
