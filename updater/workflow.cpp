// The four update steps run from the main window: check the connection and
// read the device, choose and upload a package, install it, reboot. Every
// call into the control library goes through one lock, because the library
// keeps one connection and one answer buffer for the whole process.
#include "updater.h"
#include "resource.h"

#include "devicebase.h"
#include "file.h"
#include "json.h"
#include "package.h"
#include "sig.h"

#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
    TIMER_UPLOAD = 1,
    TIMER_INSTALL = 2,
    TIMER_REBOOT = 3,
    UPLOAD_POLL_MS = 1500,
    INSTALL_POLL_MS = 1500,
    REBOOT_TICK_MS = 1000,
    REBOOT_TICKS = 80,
    INSTALL_PAUSE_MS = 500,
    MEMBER_TEXT_SIZE = 256,
    THREAD_TEXT_SIZE = 600,
};

static const char workflowCaption[] = "ORMI updater";
static const char packageFilter[] = "Packages (*.bz2)\0*.bz2\0Alle Dateien (*.*)\0*.*\0";

static char deviceBaseCopy[JSON_FORMAT_SIZE];
static char deviceTypeTag[PACKAGE_TAG_SIZE];
static char versionSuffix[PACKAGE_TAG_SIZE];
// The package version the device last reported, and the one it reported when
// an installation was started (empty: none since the last reboot's check).
static char deviceVersion[PACKAGE_TAG_SIZE];
static char versionBeforeInstall[PACKAGE_TAG_SIZE];
static bool installStarted;
// The dialog fills both with up to FILE_PATH_SIZE bytes.
static char packageName[FILE_PATH_SIZE];
static char packagePath[FILE_PATH_SIZE];
static DWORD packageSize;
static char* packageBuffer;
static signed char rebootTicks;

struct UploadRecord {
    char name[FILE_PATH_SIZE];
    int length;
};
static UploadRecord uploadRecord;

// Where an upload stands; written by the upload thread, read by timer 1.
enum UploadPhase {
    UPLOAD_IDLE,
    UPLOAD_SENDING,  // the thread is inside sendUpdateFile
    UPLOAD_WAITING,  // sent, the answer is polled with sendUpdateFileResp
    UPLOAD_ANSWERED, // sendUpdateFile already received the answer
    UPLOAD_FAILING,  // not sent; the thread's message is still open
    UPLOAD_FAILED,   // not sent; the message has been confirmed
};
static volatile LONG uploadPhase = UPLOAD_IDLE;

static CRITICAL_SECTION libraryLock;
static bool libraryLockReady;

// Commands and ticks run on the window thread, which makes the first use
// happen before the upload thread exists.
static void ensureLibraryLock(void)
{
    if (!libraryLockReady) {
        InitializeCriticalSection(&libraryLock);
        libraryLockReady = true;
    }
}

static void debugLine(const char* text)
{
    OutputDebugStringA(text);
    OutputDebugStringA("\n");
}

static void warn(const char* text)
{
    MessageBoxA(mainWindow, text, workflowCaption, MB_OK | MB_ICONWARNING);
}

static void enableButton(int id, BOOL enable)
{
    EnableWindow(GetDlgItem(mainWindow, id), enable);
}

static void setPhase(LONG phase)
{
    InterlockedExchange(&uploadPhase, phase);
}

static LONG currentPhase(void)
{
    return InterlockedCompareExchange(&uploadPhase, 0, 0);
}

static int uploadInProgress(void)
{
    LONG phase = currentPhase();
    return phase == UPLOAD_SENDING || phase == UPLOAD_WAITING || phase == UPLOAD_FAILING;
}

enum FetchResult { FETCH_NO_ANSWER, FETCH_OK, FETCH_TOO_LONG };

// The library's text is valid only until its next call, so it is copied
// while the lock is still held.
static int fetchValue(const char* type, const char* module, const char* key, char* out, int size)
{
    out[0] = '\0';
    EnterCriticalSection(&libraryLock);
    const char* answer = controlLibrary.getValue(type, module, key);
    int result = FETCH_NO_ANSWER;
    if (answer != NULL) {
        size_t length = strlen(answer);
        result = length < (size_t)size ? FETCH_OK : FETCH_TOO_LONG;
        if (length >= (size_t)size)
            length = (size_t)size - 1;
        memcpy(out, answer, length);
        out[length] = '\0';
    }
    LeaveCriticalSection(&libraryLock);
    return result;
}

static void storeValue(const char* type, const char* module, const char* key, const char* value)
{
    EnterCriticalSection(&libraryLock);
    controlLibrary.setValue(type, module, key, value);
    LeaveCriticalSection(&libraryLock);
}

// Non-empty fields go to the settings file, where the library reads them.
static void writeFieldSetting(HWND field, const char* section, const char* key)
{
    GetWindowTextA(field, messageText, MESSAGE_TEXT_SIZE);
    if (messageText[0] != '\0')
        settings_writeString(settingsPath, section, key, messageText);
}

void workflow_check(void)
{
    ensureLibraryLock();
    enableButton(IDC_CHECK, FALSE);
    writeFieldSetting(addressField, "IP", "ip_address");
    writeFieldSetting(userField, "LOGIN", "username");
    writeFieldSetting(passwordField, "LOGIN", "password");
    EnterCriticalSection(&libraryLock);
    int result = controlLibrary.checkConnection();
    LeaveCriticalSection(&libraryLock);
    if (result == 1) {
        SetWindowTextA(checkStatusField, "OK");
        SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_READ_DEVICE, 0), 0);
    } else {
        SetWindowTextA(checkStatusField, "ERROR");
        enableButton(IDC_CHECK, TRUE);
    }
}

// Brings the device's configuration into one-member-per-line form, the form
// in which json_setValue edits it, and writes it back. A text that would
// have to be cut is not written at all.
static void repairDeviceBase(void)
{
    static char answer[JSON_FORMAT_SIZE + 1];
    static char work[JSON_FORMAT_SIZE];
    int fetched = fetchValue("configuration", "devicebase", "", answer, sizeof answer);
    if (fetched == FETCH_NO_ANSWER)
        return;
    int result = fetched == FETCH_TOO_LONG ? (int)DEVICEBASE_TOO_LONG : formatDeviceBase(answer, work, sizeof work);
    if (result == DEVICEBASE_NO_OBJECT) {
        debugLine("---> devicebase corrupted");
        return;
    }
    if (result == DEVICEBASE_TOO_LONG) {
        debugLine("---> devicebase too long, not written");
        return;
    }
    if (result == DEVICEBASE_CUT) {
        debugLine("---> devicebase incomplete, not written");
        return;
    }
    storeValue("configuration", "devicebase", "", work);
    debugLine("---> devicebase corrected");
    memcpy(deviceBaseCopy, work, sizeof deviceBaseCopy);
}

// Reads the package version into deviceVersion and shows the device in
// field 1011; 0 (nothing changed) when there is no answer.
static int readVersion(void)
{
    char version[PACKAGE_TAG_SIZE];
    if (fetchValue("configuration", "devicebase", "package_version", version, sizeof version) == FETCH_NO_ANSWER)
        return 0;
    memcpy(deviceVersion, version, sizeof deviceVersion);
    package_splitVersion(version, deviceTypeTag, sizeof deviceTypeTag, versionSuffix, sizeof versionSuffix);
    snprintf(messageText, MESSAGE_TEXT_SIZE, "%s, Version %s", package_deviceType(deviceTypeTag), version);
    SetWindowTextA(deviceField, messageText);
    return 1;
}

void workflow_readDevice(void)
{
    ensureLibraryLock();
    repairDeviceBase();
    if (!readVersion()) {
        warn(package_noVersionText);
        return;
    }
    enableButton(IDC_CHECK, TRUE);
}

void workflow_choosePackage(void)
{
    initFileDialog(mainWindow, packageFilter);
    openFileDialog(mainWindow, packagePath, packageName);
    debugLine(packageName);
    debugLine(packagePath);
    SetWindowTextA(packageNameField, packageName);
}

// Ends step 2 on the window thread: timer, bar and button belong to it.
static void endUpload(const char* status)
{
    KillTimer(mainWindow, TIMER_UPLOAD);
    SetWindowTextA(loadStatusField, status);
    ShowWindow(loadProgress, SW_HIDE);
    enableButton(IDC_LOAD, TRUE);
    setPhase(UPLOAD_IDLE);
}

static DWORD WINAPI uploadThread(LPVOID parameter)
{
    const UploadRecord* record = (const UploadRecord*)parameter;
    char text[THREAD_TEXT_SIZE];
    snprintf(text, sizeof text, "send UpdateFile %s with len = %d", record->name, record->length);
    debugLine(text);
    EnterCriticalSection(&libraryLock);
    int result = controlLibrary.sendUpdateFile("update", record->name, packageBuffer, record->length);
    LeaveCriticalSection(&libraryLock);
    if (result == -1) {
        // Ticks wait while the message is open; the load can be repeated
        // once it is confirmed.
        setPhase(UPLOAD_FAILING);
        snprintf(text, sizeof text, "Beim Laden der Datei %s ist ein Fehler aufgetreten!", record->name);
        if (IsWindow(mainWindow))
            MessageBoxA(mainWindow, text, workflowCaption, MB_OK | MB_ICONWARNING);
        setPhase(UPLOAD_FAILED);
    } else {
        setPhase(result == 1 ? UPLOAD_ANSWERED : UPLOAD_WAITING);
    }
    // A tick at once, so that the window thread ends or polls the step
    // without waiting out the interval.
    PostMessageA(mainWindow, WM_TIMER, TIMER_UPLOAD, 0);
    return 0;
}

static void releasePackage(void)
{
    free(packageBuffer);
    packageBuffer = NULL;
}

// Reads at most size bytes of path: the count, 0 for a missing file, -1 for
// one that cannot be read or holds more.
static int readSmallFile(const char* path, char* out, DWORD size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : -1;
    }
    DWORD got = 0, more = 0;
    char probe;
    BOOL ok = ReadFile(file, out, size, &got, NULL) && ReadFile(file, &probe, 1, &more, NULL) && more == 0;
    CloseHandle(file);
    return ok && got > 0 ? (int)got : -1;
}

// With trusted_keys.pem beside the program, only a package signed by one of
// its keys (PACKAGE.sig beside the package, over the bytes in
// packageBuffer) may be loaded; the operator is told why not. Without the
// file every package may, as always.
static int packageTrusted(void)
{
    static char keyText[SIG_KEYFILE_SIZE];
    static sig_keyring ring;
    char keyPath[FILE_PATH_SIZE];
    DWORD n = GetModuleFileNameA(NULL, keyPath, sizeof keyPath);
    char* slash = n > 0 && n < sizeof keyPath ? strrchr(keyPath, '\\') : NULL;
    const char keyName[] = "trusted_keys.pem";
    if (slash == NULL || (size_t)(slash + 1 - keyPath) + sizeof keyName > sizeof keyPath) {
        warn("Der Ordner des ORMI updater ist nicht zu ermitteln. Es wird kein Package geladen.");
        return 0;
    }
    memcpy(slash + 1, keyName, sizeof keyName);
    int keyLength = readSmallFile(keyPath, keyText, sizeof keyText);
    if (keyLength == 0)
        return 1;
    sig_clear(&ring);
    int keys = keyLength < 0 ? SIG_KEYS_BAD : sig_addKeys(&ring, keyText, (size_t)keyLength);
    if (keys == SIG_KEYS_NO_CRYPTO) {
        warn("Signaturen können auf diesem System nicht geprüft werden. Es wird kein Package geladen.");
        return 0;
    }
    if (keys != SIG_KEYS_OK) {
        warn("Die Datei trusted_keys.pem enthält keinen lesbaren Schlüssel. Es wird kein Package geladen.");
        return 0;
    }
    char signaturePath[FILE_PATH_SIZE + 4];
    snprintf(signaturePath, sizeof signaturePath, "%s.sig", packagePath);
    char signature[SIG_FILE_SIZE];
    int signatureLength = readSmallFile(signaturePath, signature, sizeof signature);
    if (signatureLength == 0) {
        snprintf(messageText, MESSAGE_TEXT_SIZE, "Zum Package gibt es keine Signatur (%s.sig). Es wird nicht geladen.",
                 packageName);
        warn(messageText);
        return 0;
    }
    int matched = -1;
    int verdict = signatureLength < 0 ? SIG_MALFORMED
                                      : sig_verify(&ring, (const unsigned char*)packageBuffer, packageSize,
                                                   (const unsigned char*)signature, (size_t)signatureLength, &matched);
    if (verdict == SIG_CHECK_FAILED) {
        warn("Die Signatur konnte nicht geprüft werden. Es wird nicht geladen.");
        return 0;
    }
    if (verdict != SIG_VALID) {
        warn("Das Package ist nicht von einem vertrauenswürdigen Schlüssel signiert. Es wird nicht geladen.");
        return 0;
    }
    snprintf(messageText, MESSAGE_TEXT_SIZE, "signature valid, key %s", ring.keys[matched].fingerprint);
    debugLine(messageText);
    return 1;
}

// 1 when the whole file is in packageBuffer.
static int readPackage(void)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD size = 0;
    if (!OpenFileX(packagePath, &file, &size)) {
        if (file != INVALID_HANDLE_VALUE)
            closeFileX(file);
        return 0;
    }
    packageSize = size;
    snprintf(messageText, MESSAGE_TEXT_SIZE, "len file: %d", (int)size);
    debugLine(messageText);
    // The library takes a signed 32-bit length.
    releasePackage();
    packageBuffer = size <= 0x7fffffff ? (char*)malloc(size > 0 ? size : 1) : NULL;
    if (packageBuffer == NULL) {
        closeFileX(file);
        return 0;
    }
    DWORD countRead = 0;
    int state = readFileX(file, packageBuffer, size, &countRead);
    snprintf(messageText, MESSAGE_TEXT_SIZE, "len readed: %d, state: %d", (int)countRead, state);
    debugLine(messageText);
    closeFileX(file);
    // Part of a package must never reach the device.
    if (!state || countRead != size) {
        releasePackage();
        return 0;
    }
    return 1;
}

void workflow_load(void)
{
    ensureLibraryLock();
    // The thread still reads the record and the buffer.
    if (uploadInProgress())
        return;
    snprintf(messageText, MESSAGE_TEXT_SIZE, "type = %s, version = %s", deviceTypeTag, versionSuffix);
    debugLine(messageText);
    // Before a check the device's tag and suffix are empty, and any name passes.
    package_subject subject = { packageName, nullptr, 0, deviceTypeTag, versionSuffix };
    package_verdict verdict;
    if (!package_check(&subject, PACKAGE_CHECK_FIT, &verdict)) {
        warn(verdict.message);
        return;
    }
    debugLine("loading");
    if (!readPackage())
        return;
    if (!packageTrusted()) {
        releasePackage();
        return;
    }
    memcpy(uploadRecord.name, packageName, sizeof uploadRecord.name);
    uploadRecord.length = (int)packageSize;
    setPhase(UPLOAD_SENDING);
    HANDLE thread = CreateThread(NULL, 0, uploadThread, &uploadRecord, 0, NULL);
    if (thread == NULL) {
        setPhase(UPLOAD_IDLE);
        return;
    }
    CloseHandle(thread);
    ShowWindow(loadProgress, SW_SHOW);
    enableButton(IDC_LOAD, FALSE);
    SetTimer(mainWindow, TIMER_UPLOAD, UPLOAD_POLL_MS, NULL);
    SetWindowTextA(loadStatusField, "wird geladen ...");
}

static void uploadTick(void)
{
    switch (currentPhase()) {
    case UPLOAD_ANSWERED:
        endUpload("OK");
        return;
    case UPLOAD_FAILED:
        endUpload("ERROR");
        return;
    case UPLOAD_WAITING:
        break;
    default:
        // Still sending, or the failure message is open: nothing to poll.
        return;
    }
    if (!TryEnterCriticalSection(&libraryLock))
        return;
    int result = controlLibrary.sendUpdateFileResp();
    LeaveCriticalSection(&libraryLock);
    if (result == 1) {
        endUpload("OK");
    } else {
        SetWindowTextA(loadStatusField, "wird geladen ...");
        enableButton(IDC_LOAD, FALSE);
    }
}

void workflow_install(void)
{
    ensureLibraryLock();
    static char text[JSON_FORMAT_SIZE];
    ShowWindow(installProgress, SW_SHOW);
    int fetched = fetchValue("configuration", "devicebase", "", text, sizeof text);
    // An empty or cut configuration would overwrite the device's settings.
    if (fetched != FETCH_OK) {
        ShowWindow(installProgress, SW_HIDE);
        if (fetched == FETCH_NO_ANSWER) {
            warn("Das Gerät antwortet nicht. Die Installation wurde nicht gestartet.");
        } else {
            debugLine("---> devicebase too long, not written");
            warn("Die Konfiguration des Geräts ist zu lang. Die Installation wurde nicht "
                 "gestartet.");
        }
        return;
    }
    json_setValue(text, sizeof text, "install_component", "package");
    // What the device must no longer report once it has rebooted.
    memcpy(versionBeforeInstall, deviceVersion, sizeof versionBeforeInstall);
    installStarted = true;
    debugLine(text);
    Sleep(INSTALL_PAUSE_MS);
    storeValue("configuration", "devicebase", "", text);
    enableButton(IDC_INSTALL, FALSE);
    SetWindowTextA(installStatusField, "installation started");
    SetTimer(mainWindow, TIMER_INSTALL, INSTALL_POLL_MS, NULL);
}

static void installTick(void)
{
    static char text[JSON_FORMAT_SIZE];
    if (fetchValue("values", "devicebase", "", text, sizeof text) == FETCH_NO_ANSWER)
        return;
    char member[MEMBER_TEXT_SIZE];
    int intValue = 0;
    float floatValue = 0;
    int length = (int)strlen(text);
    json_getValue(text, length, "content", member, sizeof member, &intValue, &floatValue);
    SetWindowTextA(installStatusField, member);
    json_getValue(text, length, "state", member, sizeof member, &intValue, &floatValue);
    if (strcmp(member, "run") == 0)
        return;
    KillTimer(mainWindow, TIMER_INSTALL);
    debugLine("install finished");
    ShowWindow(installProgress, SW_HIDE);
    enableButton(IDC_INSTALL, TRUE);
}

void workflow_reboot(void)
{
    ensureLibraryLock();
    // Without a repaired configuration the request would be an empty text.
    if (deviceBaseCopy[0] == '\0') {
        warn("Bitte zuerst die Verbindung zum ORMI/ORMI-M prüfen (Check).");
        return;
    }
    ShowWindow(rebootProgress, SW_SHOW);
    debugLine("*** Reboot ausfuehren ***");
    json_setValue(deviceBaseCopy, sizeof deviceBaseCopy, "reboot", "true");
    storeValue("configuration", "devicebase", "", deviceBaseCopy);
    SetWindowTextA(rebootStatusField, "Reboot wird ausgeführt ...");
    enableButton(IDC_REBOOT, FALSE);
    rebootTicks = 0;
    SetTimer(mainWindow, TIMER_REBOOT, REBOOT_TICK_MS, NULL);
}

// After the reboot's time: the device is asked once, as step 1 asks it (the
// configuration is not written), and the operator is told when it does not
// answer or still runs the package it ran before the installation.
static void checkAfterReboot(void)
{
    EnterCriticalSection(&libraryLock);
    int login = controlLibrary.checkConnection();
    LeaveCriticalSection(&libraryLock);
    if (login != 1) {
        debugLine("---> no answer after the reboot");
        SetWindowTextA(checkStatusField, "ERROR");
        warn("Das Gerät antwortet nach dem Neustart nicht.");
        return;
    }
    SetWindowTextA(checkStatusField, "OK");
    if (!readVersion()) {
        debugLine("---> no package version after the reboot");
        warn("Das Gerät meldet nach dem Neustart keine Package-Version.");
        return;
    }
    snprintf(messageText, MESSAGE_TEXT_SIZE, "---> version after the reboot: %s", deviceVersion);
    debugLine(messageText);
    bool unchanged = installStarted && strcmp(deviceVersion, versionBeforeInstall) == 0;
    installStarted = false;
    if (unchanged) {
        snprintf(messageText, MESSAGE_TEXT_SIZE, "Das Gerät meldet nach dem Neustart weiterhin die Version %s.",
                 deviceVersion);
        warn(messageText);
    }
}

static void rebootTick(void)
{
    SendMessageA(rebootProgress, PBM_STEPIT, 0, 0);
    ++rebootTicks;
    if (rebootTicks >= REBOOT_TICKS) {
        KillTimer(mainWindow, TIMER_REBOOT);
        SetWindowTextA(rebootStatusField, "Reboot beendet");
        ShowWindow(rebootProgress, SW_HIDE);
        enableButton(IDC_REBOOT, TRUE);
        checkAfterReboot();
    }
}

void workflow_timer(UINT_PTR timer)
{
    ensureLibraryLock();
    switch (timer) {
    case TIMER_UPLOAD:
        uploadTick();
        break;
    case TIMER_INSTALL:
        installTick();
        break;
    case TIMER_REBOOT:
        rebootTick();
        break;
    }
}

void workflow_release(void)
{
    // The upload thread may still be handing the buffer to the library; the
    // end of the process reclaims it then. Past the send it is no longer read.
    if (currentPhase() != UPLOAD_SENDING)
        releasePackage();
}
