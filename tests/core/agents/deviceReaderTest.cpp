// The device reader against a named-pipe stand-in of the driver's device.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "core/agents/deviceReader.h"
#include "core/platform/errors.h"
#include "core/platform/registry.h"
#include "fakeKeyboardDevice.h"

namespace {

// ---------------------------------------------------------------- the operations seam

// What the fake version query answers; `versionBytes` < 0 makes the query fail.
std::wstring g_versionText;
int g_versionBytes = -1;
// The fake service manager: which step fails (with which code), and the device its service runs.
enum failingStep { noStepFails, managerFails, serviceFails, startFails };
failingStep g_failingStep = noStepFails;
fakeKeyboardDevice* g_serviceDevice = nullptr;
int g_starts = 0;
int g_stops = 0;
// The fake retry box.
std::vector<int> g_boxAnswers;
int g_boxes = 0;
std::wstring g_boxText;
std::wstring g_boxCaption;
UINT g_boxType = 0;
HANDLE g_releaseOnRetry = nullptr;

BOOL WINAPI fakeIoControl(HANDLE, DWORD code, LPVOID, DWORD, LPVOID out, DWORD outSize, LPDWORD returned,
                          LPOVERLAPPED)
{
    if (code != driverVersionControlCode || g_versionBytes < 0) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    std::vector<char> bytes(static_cast<size_t>(g_versionBytes), 'x');
    std::memcpy(bytes.data(), g_versionText.data(),
                std::min(bytes.size(), g_versionText.size() * sizeof(wchar_t)));
    std::memcpy(out, bytes.data(), std::min<size_t>(bytes.size(), outSize));
    *returned = static_cast<DWORD>(g_versionBytes);
    return TRUE;
}

SC_HANDLE const fakeManager = reinterpret_cast<SC_HANDLE>(0x1234);
SC_HANDLE const fakeService = reinterpret_cast<SC_HANDLE>(0x5678);

SC_HANDLE WINAPI fakeOpenManager(LPCWSTR, LPCWSTR, DWORD)
{
    if (g_failingStep == managerFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return fakeManager;
}
SC_HANDLE WINAPI fakeOpenService(SC_HANDLE, LPCWSTR, DWORD)
{
    if (g_failingStep == serviceFails) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return fakeService;
}
BOOL WINAPI fakeStartService(SC_HANDLE, DWORD, LPCWSTR*)
{
    ++g_starts;
    if (g_failingStep == startFails) {
        SetLastError(ERROR_SERVICE_DISABLED);
        return FALSE;
    }
    if (g_serviceDevice) g_serviceDevice->startListening();
    return TRUE;
}
BOOL WINAPI fakeControlService(SC_HANDLE, DWORD control, LPSERVICE_STATUS)
{
    if (control == SERVICE_CONTROL_STOP) {
        ++g_stops;
        if (g_serviceDevice) g_serviceDevice->stopListening();
    }
    return TRUE;
}
BOOL WINAPI fakeCloseService(SC_HANDLE) { return TRUE; }

int WINAPI fakeBox(HWND, LPCWSTR text, LPCWSTR caption, UINT type)
{
    ++g_boxes;
    g_boxText = text;
    g_boxCaption = caption;
    g_boxType = type;
    const int answer = g_boxAnswers.empty() ? IDCANCEL : g_boxAnswers.front();
    if (!g_boxAnswers.empty()) g_boxAnswers.erase(g_boxAnswers.begin());
    if (answer == IDRETRY && g_releaseOnRetry) {
        CloseHandle(g_releaseOnRetry);
        g_releaseOnRetry = nullptr;
    }
    if (answer == 0) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return answer;
}

const deviceOperations fakeOperations = {&fakeIoControl,      &fakeOpenManager,  &fakeOpenService, &fakeStartService,
                                         &fakeControlService, &fakeCloseService, &fakeBox};

deviceNames namesFor(const std::wstring& path)
{
    static std::atomic<int> counter{0};
    deviceNames names;
    names.devicePath = path;
    names.serviceName = L"tvnNoSuchDriverService";
    names.mutexName = L"tvnDeviceReaderTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      std::to_wstring(++counter);
    return names;
}

std::shared_ptr<omsgstream> newLog() { return std::make_shared<omsgstream>(logTextMessage, nullptr); }

std::wstring logText(omsgstream& log)
{
    std::wstring text = log.takeText();
    log.clearText();
    return text;
}

// A reader that keeps what it reads and, when told, writes it back with the make code raised by one.
class recordingReader : public deviceReader {
public:
    using deviceReader::deviceReader;
    ~recordingReader() override { stopThread(); }

    bool handleRecord(const keyboardRecord& record) override
    {
        {
            scopedLock guard(m_lock);
            m_records.push_back(record);
        }
        if (echo) {
            keyboardRecord back = record;
            back.MakeCode = static_cast<std::uint16_t>(back.MakeCode + 1);
            writeRecord(back, 1);
        }
        return true;
    }
    void idle() override { ++idles; }
    int readRecord(keyboardRecord& record, int count) override
    {
        ++reads;
        return deviceReader::readRecord(record, count);
    }

    std::vector<keyboardRecord> records()
    {
        scopedLock guard(m_lock);
        return m_records;
    }
    bool waitForRecords(size_t count, DWORD timeout)
    {
        const DWORD start = GetTickCount();
        while (records().size() < count) {
            if (GetTickCount() - start > timeout) return false;
            Sleep(1);
        }
        return true;
    }

    bool echo = true;
    std::atomic<int> idles{0};
    std::atomic<int> reads{0};

private:
    sectionLock m_lock;
    std::vector<keyboardRecord> m_records;
};

class DeviceReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_versionText = L"stand-in 2.5";
        g_versionBytes = static_cast<int>(g_versionText.size() * 2);
        g_failingStep = noStepFails;
        g_serviceDevice = nullptr;
        g_starts = g_stops = 0;
        g_boxAnswers.clear();
        g_boxes = 0;
        g_releaseOnRetry = nullptr;
    }
    std::shared_ptr<omsgstream> log = newLog();
};

// ---------------------------------------------------------------- records

TEST_F(DeviceReaderTest, ReadsRecordsInOrderAndWritesBackWhatTheAgentPasses)
{
    fakeKeyboardDevice device;
    recordingReader reader(log, namesFor(device.path()), fakeOperations);
    EXPECT_EQ(L"stand-in 2.5", reader.versionText());
    // Reading the version opened the device and closed it again; no thread yet.
    EXPECT_FALSE(reader.deviceOpen());
    EXPECT_FALSE(reader.threadRunning());

    reader.startThread();
    ASSERT_TRUE(device.waitForConnections(2, 2000));
    EXPECT_TRUE(reader.threadRunning());

    keyboardRecord full = makeRecord(0x1D, recordKeyE0 | recordKeyBreak);
    full.UnitId = 3;
    full.Reserved = 0x55AA;
    full.ExtraInformation = 0x12345678;
    ASSERT_TRUE(device.sendKey(0x1E, 0));
    ASSERT_TRUE(device.send(full));
    ASSERT_TRUE(device.sendKey(0x1E, recordKeyBreak));
    ASSERT_TRUE(reader.waitForRecords(3, 2000));

    const std::vector<keyboardRecord> read = reader.records();
    EXPECT_TRUE(read[0] == makeRecord(0x1E, 0));
    EXPECT_TRUE(read[1] == full);  // every field of the 12 bytes arrives
    EXPECT_TRUE(read[2] == makeRecord(0x1E, recordKeyBreak));

    ASSERT_TRUE(device.waitForDelivered(3, 2000));
    const std::vector<keyboardRecord> back = device.delivered();
    EXPECT_EQ(0x1F, back[0].MakeCode);
    EXPECT_EQ(0x1E, back[1].MakeCode);
    EXPECT_EQ(recordKeyE0 | recordKeyBreak, back[1].Flags);
    EXPECT_EQ(0x12345678u, back[1].ExtraInformation);
    EXPECT_EQ(recordKeyBreak, back[2].Flags);
}

TEST_F(DeviceReaderTest, IdleWorkRunsWhileNoRecordComes)
{
    fakeKeyboardDevice device;
    recordingReader reader(log, namesFor(device.path()), fakeOperations);
    reader.startThread();
    Sleep(200);
    // The read waits a millisecond at a time; timers need this to run often, yet not constantly.
    EXPECT_GT(reader.idles.load(), 20);
    EXPECT_EQ(readTimeout, reader.lastReadResult());
}

void writeFromShortLivedRecord(deviceReader& reader, std::uint16_t code)
{
    keyboardRecord local = makeRecord(code, recordKeyBreak);
    reader.writeRecord(local, 1);
}

void scribbleOnStack()
{
    volatile unsigned char junk[512];
    for (size_t i = 0; i < sizeof junk; ++i) junk[i] = 0xCC;
}

TEST_F(DeviceReaderTest, WriteOwnsItsBufferUntilTheDriverTakesTheRecord)
{
    fakeKeyboardDevice device;
    recordingReader reader(log, namesFor(device.path()), fakeOperations);
    reader.openDevice();
    ASSERT_TRUE(device.waitForConnections(2, 2000));
    device.holdDeliveries(true);
    writeFromShortLivedRecord(reader, 0x2C);
    scribbleOnStack();
    device.holdDeliveries(false);
    ASSERT_TRUE(device.waitForDelivered(1, 2000));
    EXPECT_TRUE(device.delivered()[0] == makeRecord(0x2C, recordKeyBreak));
    // A second write waits for the first one, so both arrive, in order.
    writeFromShortLivedRecord(reader, 0x2D);
    writeFromShortLivedRecord(reader, 0x2E);
    ASSERT_TRUE(device.waitForDelivered(3, 2000));
    EXPECT_EQ(0x2D, device.delivered()[1].MakeCode);
    EXPECT_EQ(0x2E, device.delivered()[2].MakeCode);
}

TEST_F(DeviceReaderTest, StartingAgainWhileTheThreadRunsLeavesAWriteInFlightToBeWaitedFor)
{
    fakeKeyboardDevice device;
    recordingReader reader(log, namesFor(device.path()), fakeOperations);
    reader.startThread();
    ASSERT_TRUE(device.waitForConnections(2, 2000));
    device.holdDeliveries(true);
    writeFromShortLivedRecord(reader, 0x2C);
    EXPECT_TRUE(reader.writePending());
    // Every resume of the same agent starts the thread again. Its write is still in flight, so
    // the next write must wait for it rather than take its record and request.
    reader.startThread();
    EXPECT_TRUE(reader.writePending());
    device.holdDeliveries(false);
    writeFromShortLivedRecord(reader, 0x2D);
    ASSERT_TRUE(device.waitForDelivered(2, 2000));
    EXPECT_EQ(0x2C, device.delivered()[0].MakeCode);
    EXPECT_EQ(0x2D, device.delivered()[1].MakeCode);

    // Stopped, nothing of the thread is in flight any more.
    reader.stopThread();
    EXPECT_FALSE(reader.writePending());
}

// ---------------------------------------------------------------- suspend and resume

TEST_F(DeviceReaderTest, SuspendClosesTheDeviceAndResumeReopensItForTheSameThread)
{
    fakeKeyboardDevice device;
    recordingReader reader(log, namesFor(device.path()), fakeOperations);
    reader.startThread();
    ASSERT_TRUE(device.waitForConnections(2, 2000));

    EXPECT_TRUE(reader.suspend());
    EXPECT_TRUE(reader.suspended());
    EXPECT_FALSE(reader.deviceOpen());
    EXPECT_TRUE(device.waitForNoClient(2000));
    const int idlesWhileParked = reader.idles.load();
    Sleep(50);
    EXPECT_EQ(idlesWhileParked, reader.idles.load()) << "a parked thread does no idle work";
    EXPECT_TRUE(reader.suspend()) << "a second suspend is harmless";

    EXPECT_TRUE(reader.resume());
    EXPECT_FALSE(reader.suspended());
    EXPECT_TRUE(reader.deviceOpen());
    ASSERT_TRUE(device.waitForConnections(3, 2000));
    ASSERT_TRUE(device.sendKey(0x10, 0));
    ASSERT_TRUE(reader.waitForRecords(1, 2000));
    EXPECT_EQ(0x10, reader.records()[0].MakeCode);
}

TEST_F(DeviceReaderTest, ManySuspendResumeCyclesKeepAcknowledgementsInStep)
{
    fakeKeyboardDevice device;
    recordingReader reader(log, namesFor(device.path()), fakeOperations);
    reader.startThread();
    ASSERT_TRUE(device.waitForConnections(2, 2000));
    for (int cycle = 0; cycle < 15; ++cycle) {
        ASSERT_TRUE(reader.suspend());
        ASSERT_TRUE(device.waitForNoClient(2000));
        ASSERT_TRUE(reader.resume());
        ASSERT_TRUE(device.waitForConnections(3 + cycle, 2000));
        ASSERT_TRUE(device.sendKey(static_cast<std::uint16_t>(0x10 + cycle), 0));
        // Each key arrives once, on a live handle: a stale acknowledgement or a second wake-up
        // would lose it or park the thread while the device is open.
        ASSERT_TRUE(reader.waitForRecords(static_cast<size_t>(cycle) + 1, 2000)) << "cycle " << cycle;
    }
    const std::vector<keyboardRecord> read = reader.records();
    ASSERT_EQ(15u, read.size());
    for (int cycle = 0; cycle < 15; ++cycle) EXPECT_EQ(0x10 + cycle, read[static_cast<size_t>(cycle)].MakeCode);
    EXPECT_EQ(std::wstring::npos, logText(*log).find(L"internal error"));
}

TEST_F(DeviceReaderTest, StoppingAParkedThreadEndsIt)
{
    fakeKeyboardDevice device;
    recordingReader reader(log, namesFor(device.path()), fakeOperations);
    reader.startThread();
    reader.suspend();
    const DWORD start = GetTickCount();
    reader.stopThread();
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_FALSE(reader.threadRunning());
    EXPECT_FALSE(reader.suspended());
    // And the reader starts afresh afterwards.
    reader.startThread();
    ASSERT_TRUE(device.waitForConnections(3, 2000));
    ASSERT_TRUE(device.sendKey(0x20, 0));
    EXPECT_TRUE(reader.waitForRecords(1, 2000));
}

TEST_F(DeviceReaderTest, ReadsThatKeepFailingDoNotSpinAndStillStopPromptly)
{
    fakeKeyboardDevice device;
    recordingReader reader(log, namesFor(device.path()), fakeOperations);
    reader.startThread();
    ASSERT_TRUE(device.waitForConnections(2, 2000));
    device.stopListening();  // the pipe breaks under the open handle: every read now fails
    Sleep(50);
    const int readsBefore = reader.reads.load();
    Sleep(400);
    const int failedReads = reader.reads.load() - readsBefore;
    EXPECT_EQ(readError, reader.lastReadResult());
    EXPECT_LT(failedReads, 60) << "failing reads are retried at a slower pace";
    EXPECT_GT(failedReads, 3) << "but still retried";
    const DWORD start = GetTickCount();
    reader.stopThread();
    EXPECT_LT(GetTickCount() - start, 500u);
}

// ---------------------------------------------------------------- version text

TEST_F(DeviceReaderTest, VersionAnswersOfNoBytesOrAFullBufferKeepTheDefaultText)
{
    fakeKeyboardDevice device;
    for (int bytes : {0, 512, 600, -1}) {
        g_versionBytes = bytes;
        recordingReader reader(log, namesFor(device.path()), fakeOperations);
        EXPECT_EQ(L"版号記述なし", reader.versionText()) << bytes << " bytes";
    }
    g_versionText = std::wstring(L"v9\0", 3);
    g_versionBytes = 6;
    recordingReader withZero(log, namesFor(device.path()), fakeOperations);
    EXPECT_EQ(L"v9", withZero.versionText());
}

// ---------------------------------------------------------------- device missing

TEST_F(DeviceReaderTest, MissingDeviceWithoutServiceNamesTheFailingStepAndThreeCodes)
{
    fakeKeyboardDevice absent(false);
    const deviceNames names = namesFor(absent.path());
    const struct {
        failingStep step;
        const wchar_t* text;
        DWORD code;
    } cases[] = {
        {managerFails, L"OpenSCManager に失敗しました。エラーコード=", ERROR_ACCESS_DENIED},
        {serviceFails, L"OpenService に失敗しました。エラーコード=", ERROR_SERVICE_DOES_NOT_EXIST},
        {startFails, L"StartService に失敗しました。エラーコード=", ERROR_SERVICE_DISABLED},
    };
    for (const auto& c : cases) {
        g_failingStep = c.step;
        try {
            recordingReader reader(log, names, fakeOperations);
            ADD_FAILURE() << "built without a device";
        } catch (ErrorMessage& e) {
            EXPECT_EQ(std::wstring(c.text) + std::to_wstring(c.code) + L" / 2 / 2", e.text());
        }
    }
    // Started, but still no device.
    g_failingStep = noStepFails;
    try {
        recordingReader reader(log, names, fakeOperations);
        ADD_FAILURE() << "built without a device";
    } catch (ErrorMessage& e) {
        EXPECT_EQ(L"二回目の CreateFile に失敗しました。エラーコード=2 / 2", e.text());
    }
}

TEST_F(DeviceReaderTest, TheSystemServiceManagerWithoutTheServiceRefusesThroughOpenService)
{
    fakeKeyboardDevice absent(false);
    deviceOperations system = systemDeviceOperations();
    system.messageBox = &fakeBox;
    try {
        recordingReader reader(log, namesFor(absent.path()), system);
        ADD_FAILURE() << "built without a device";
    } catch (ErrorMessage& e) {
        const std::wstring prefix = L"OpenService に失敗しました。エラーコード=";
        EXPECT_EQ(prefix, e.text().substr(0, prefix.size())) << e.text();
        EXPECT_NE(std::wstring::npos, e.text().find(L" / 2 / 2")) << e.text();
    }
}

TEST_F(DeviceReaderTest, StartingTheServiceBringsTheDeviceAndSuspendStopsItAgain)
{
    fakeKeyboardDevice device(false);
    g_serviceDevice = &device;
    recordingReader reader(log, namesFor(device.path()), fakeOperations);
    // The version was read from the device the service brought; closing it stopped the service.
    EXPECT_EQ(L"stand-in 2.5", reader.versionText());
    EXPECT_EQ(1, g_starts);
    EXPECT_EQ(1, g_stops);
    EXPECT_FALSE(device.listening());

    // The stand-in may not have counted a client that came and went while it was stopping.
    int connections = device.connections();
    reader.startThread();
    EXPECT_EQ(2, g_starts);
    ASSERT_TRUE(device.waitForConnections(connections + 1, 2000));
    reader.suspend();
    EXPECT_EQ(2, g_stops);
    EXPECT_FALSE(device.listening());
    connections = device.connections();
    reader.resume();
    EXPECT_EQ(3, g_starts);
    ASSERT_TRUE(device.waitForConnections(connections + 1, 2000));
    ASSERT_TRUE(device.sendKey(0x30, 0));
    EXPECT_TRUE(reader.waitForRecords(1, 2000));
    reader.stopThread();
    reader.closeDevice();
    EXPECT_EQ(3, g_stops);
    g_serviceDevice = nullptr;
}

// ---------------------------------------------------------------- exclusion

TEST_F(DeviceReaderTest, MutexHeldElsewhereAsksAndCancelEndsConstruction)
{
    fakeKeyboardDevice device;
    const deviceNames names = namesFor(device.path());
    HANDLE other = CreateMutexW(nullptr, TRUE, sessionQualifiedName(names.mutexName).c_str());
    ASSERT_NE(nullptr, other);
    g_boxAnswers = {IDCANCEL};
    try {
        recordingReader reader(log, names, fakeOperations);
        ADD_FAILURE() << "built while the mutex is held";
    } catch (ErrorMessage& e) {
        EXPECT_EQ(L"Vexaを援用する手続きを中段しました。", e.text());
    }
    EXPECT_EQ(1, g_boxes);
    EXPECT_EQ(L"Orvessa/Tavolin", g_boxCaption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION | MB_RETRYCANCEL), g_boxType);
    EXPECT_EQ(0u, g_boxText.find(L"VexaもしくはOrvessaがすでに動作しています。\n"));

    g_boxAnswers = {0};
    try {
        recordingReader reader(log, names, fakeOperations);
        ADD_FAILURE();
    } catch (ErrorMessage& e) {
        EXPECT_EQ(L"MessageBox がエラーを返しました。エラーコード=8", e.text());
    }
    g_boxAnswers = {IDOK};
    try {
        recordingReader reader(log, names, fakeOperations);
        ADD_FAILURE();
    } catch (ErrorMessage& e) {
        EXPECT_EQ(L"MessageBox が予期していない値を返しました。", e.text());
    }
    CloseHandle(other);
}

TEST_F(DeviceReaderTest, RetryAfterTheOtherHolderEndsSucceedsAndTheReaderThenHoldsTheMutex)
{
    fakeKeyboardDevice device;
    const deviceNames names = namesFor(device.path());
    g_releaseOnRetry = CreateMutexW(nullptr, TRUE, sessionQualifiedName(names.mutexName).c_str());
    g_boxAnswers = {IDRETRY};
    recordingReader first(log, names, fakeOperations);
    EXPECT_EQ(1, g_boxes);
    EXPECT_EQ(nullptr, g_releaseOnRetry);

    // Now a second user of the driver is kept out by this reader.
    g_boxAnswers = {IDCANCEL};
    EXPECT_THROW(recordingReader second(log, names, fakeOperations), ErrorMessage);
    EXPECT_EQ(2, g_boxes);
}

TEST_F(DeviceReaderTest, AMutexThatCannotBeCreatedIsAFailureWithTheSystemText)
{
    fakeKeyboardDevice device;
    const deviceNames names = namesFor(device.path());
    // An event of the same name makes the mutex impossible to create.
    HANDLE clash = CreateEventW(nullptr, TRUE, FALSE, sessionQualifiedName(names.mutexName).c_str());
    ASSERT_NE(nullptr, clash);
    try {
        recordingReader reader(log, names, fakeOperations);
        ADD_FAILURE() << "built without its mutex";
    } catch (ErrorMessage& e) {
        EXPECT_NE(std::wstring::npos, e.text().find(L"10進" + std::to_wstring(ERROR_INVALID_HANDLE))) << e.text();
    }
    EXPECT_EQ(0, g_boxes);
    CloseHandle(clash);
}

}  // namespace
