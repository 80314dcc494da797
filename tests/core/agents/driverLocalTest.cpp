// The driver agent against the named-pipe stand-in of the driver's device.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agentTestSupport.h"
#include "core/agents/driverLocal.h"
#include "core/platform/errors.h"
#include "core/engine/keyCodes.h"
#include "core/files/layoutReader.h"
#include "core/platform/registry.h"
#include "core/settings/settingsHolder.h"
#include "fakeKeyboardDevice.h"

namespace {

keyOutputEvent outputOf(bool down, keyCode code)
{
    keyOutputEvent event;
    event.down = down;
    event.keyCode = code;
    return event;
}

// A keyboard display that counts the bracket marks it is posted.
class markerWindow {
public:
    markerWindow()
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"tvnDriverMarkerWindow";
        RegisterClassW(&wc);
        handle = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                                 nullptr);
        marks().clear();
    }
    ~markerWindow() { DestroyWindow(handle); }
    static std::vector<WPARAM>& marks()
    {
        static std::vector<WPARAM> received;
        return received;
    }
    void pump()
    {
        MSG message;
        while (PeekMessageW(&message, handle, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    HWND handle;

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l)
    {
        if (message == agentMarkerMessage) marks().push_back(w);
        return DefWindowProcW(window, message, w, l);
    }
};

class DriverLocalTest : public ::testing::Test {
protected:
    DriverLocalTest() : log(makeTestLog()), holder(log, &link, nullptr, nullptr)
    {
        holder.setAllToDefault();
        holder.readCache();
    }
    ~DriverLocalTest() override { inputHandler::setWindows(nullptr, nullptr); }

    std::unique_ptr<driver_local> makeAgent()
    {
        auto agent = std::unique_ptr<driver_local>(
            new driver_local(&link, log, &holder, standInDeviceNames(device.path()), standInDeviceOperations()));
        agent->setScancodeMap(scancodeMap());
        return agent;
    }

    // Resumes the agent and waits until the stand-in sees its reading connection.
    void start(driver_local& agent)
    {
        const int before = device.connections();
        ASSERT_TRUE(agent.resume());
        ASSERT_TRUE(device.waitForConnections(before + 1, 2000));
    }

    void loadQTypesW()
    {
        layoutReader reader(2);  // the alphabet layout
        std::wistringstream text(L"visible=1\r\nq\tw\r\n");
        scopedLock guard(tableLock());
        holder.cache.layoutTables[2] = readLayout(reader, text);
    }

    std::vector<keyboardRecord> deliveredAfter(size_t count)
    {
        EXPECT_TRUE(device.waitForDelivered(count, 3000)) << "only " << describe(device.delivered());
        return device.delivered();
    }
    static std::string describe(const std::vector<keyboardRecord>& records)
    {
        std::string text;
        char one[32];
        for (const keyboardRecord& r : records) {
            snprintf(one, sizeof one, "%02X/%X ", r.MakeCode, r.Flags);
            text += one;
        }
        return text;
    }

    fakeKeyboardDevice device;
    agentFakeLink link;
    std::shared_ptr<omsgstream> log;
    settingsHolder holder;
};

TEST_F(DriverLocalTest, IdentityCarriesTheDriversVersionText)
{
    auto agent = makeAgent();
    EXPECT_EQ(L"vexa", agent->id());
    EXPECT_EQ(L"Vexa用デバイスドライバ vexad : stand-in 1.0", agent->displayName());
    EXPECT_FALSE(agent->deviceOpen());
}

TEST_F(DriverLocalTest, KeysAreReadConvertedAndWrittenBackAsRecords)
{
    log->setShownLevel(1);  // the typed keys' lines are detail lines
    auto agent = makeAgent();
    start(*agent);
    // The hook library is told whether the 半角/全角 key is remapped.
    EXPECT_EQ(1u, link.requestsOf(fromDll::setSpareFlag).size());

    ASSERT_TRUE(device.sendKey(0x1E, 0));                           // A down
    ASSERT_TRUE(device.sendKey(0x1E, recordKeyBreak));              // A up
    ASSERT_TRUE(device.sendKey(0x1D, recordKeyE0));                 // right Ctrl down
    ASSERT_TRUE(device.sendKey(0x1D, recordKeyE0 | recordKeyBreak));  // right Ctrl up
    const std::vector<keyboardRecord> out = deliveredAfter(4);
    ASSERT_EQ(4u, out.size());
    EXPECT_TRUE(out[0] == makeRecord(0x1E, 0));
    EXPECT_TRUE(out[1] == makeRecord(0x1E, recordKeyBreak));
    EXPECT_TRUE(out[2] == makeRecord(0x1D, recordKeyE0));
    EXPECT_TRUE(out[3] == makeRecord(0x1D, recordKeyE0 | recordKeyBreak));
    const std::wstring text = takeLogText(*log);
    EXPECT_NE(std::wstring::npos, text.find(L"vexa ")) << text;
    EXPECT_NE(std::wstring::npos, text.find(L"0x1d(E0)")) << text;
}

TEST_F(DriverLocalTest, OutputGoesBackThroughTheReverseOfTheSystemMap)
{
    auto agent = makeAgent();
    // CapsLock (0x3A) types left Ctrl (0x1D) on this machine.
    agent->setScancodeMap(scancodeMap({{0x3A, 0x1D}}, {{0x1D, 0x3A}}));
    start(*agent);

    // The physical CapsLock is left Ctrl to the engine, and goes out as the key that gives left Ctrl.
    ASSERT_TRUE(device.sendKey(0x3A, 0));
    ASSERT_TRUE(device.sendKey(0x3A, recordKeyBreak));
    std::vector<keyboardRecord> out = deliveredAfter(2);
    EXPECT_TRUE(out[0] == makeRecord(0x3A, 0));
    EXPECT_TRUE(out[1] == makeRecord(0x3A, recordKeyBreak));

    // An output of left Ctrl itself is written as CapsLock's make code.
    EXPECT_TRUE(agent->outputKey(outputOf(true, 0x1D)));
    out = deliveredAfter(3);
    EXPECT_TRUE(out[2] == makeRecord(0x3A, 0));
}

TEST_F(DriverLocalTest, OverflowIsLoggedAndDroppedWhileE1AndAcpiRecordsPassUnchanged)
{
    auto agent = makeAgent();
    start(*agent);
    takeLogText(*log);

    ASSERT_TRUE(device.sendKey(overflowMakeCode, 0));
    keyboardRecord pause = makeRecord(0x1D, recordKeyE1);
    pause.ExtraInformation = 7;  // passes byte for byte
    ASSERT_TRUE(device.send(pause));
    ASSERT_TRUE(device.sendKey(0x5E, recordKeyE0));  // ACPI power
    ASSERT_TRUE(device.sendKey(0x10, 0));            // an ordinary key after them
    const std::vector<keyboardRecord> out = deliveredAfter(3);
    ASSERT_EQ(3u, out.size());
    EXPECT_TRUE(out[0] == pause);
    EXPECT_TRUE(out[1] == makeRecord(0x5E, recordKeyE0));
    EXPECT_EQ(0x10, out[2].MakeCode);

    const std::wstring text = takeLogText(*log);
    EXPECT_NE(std::wstring::npos, text.find(L" デバイスドライバのバッファ溢れが発生したようです。\n")) << text;
    EXPECT_NE(std::wstring::npos, text.find(L"E1 系の拡張はそのまま出力します。  0x1d のキーオン○\n")) << text;
    EXPECT_NE(std::wstring::npos, text.find(L"入力のあったコード  0xde はACPI(電源)系のコードです。\n")) << text;
}

TEST_F(DriverLocalTest, AKeyThatIsNotRealIsLoggedAndDropped)
{
    auto agent = makeAgent();
    start(*agent);
    takeLogText(*log);
    ASSERT_TRUE(device.sendKey(0x00, 0));
    ASSERT_TRUE(device.sendKey(0x1E, 0));
    ASSERT_TRUE(device.sendKey(0x1E, recordKeyBreak));
    deliveredAfter(2);
    Sleep(50);
    for (const keyboardRecord& r : device.delivered()) EXPECT_NE(0, r.MakeCode) << describe(device.delivered());
    EXPECT_NE(std::wstring::npos,
              takeLogText(*log).find(L"実入力情報  0x00 のキーオン○これは異常時に発生する操作情報です。"));
}

TEST_F(DriverLocalTest, AStoppedAgentWritesEveryRecordBackUnchangedAndLogsNothing)
{
    auto agent = makeAgent();
    agent->setScancodeMap(scancodeMap({{0x3A, 0x1D}}, {{0x1D, 0x3A}}));
    start(*agent);
    agent->setEnabled(false);
    takeLogText(*log);
    const keyboardRecord records[] = {makeRecord(0x1E, 0), makeRecord(overflowMakeCode, 0),
                                      makeRecord(0x1D, recordKeyE1), makeRecord(0x3A, recordKeyBreak),
                                      makeRecord(0x00, 0)};
    for (const keyboardRecord& r : records) ASSERT_TRUE(device.send(r));
    const std::vector<keyboardRecord> out = deliveredAfter(5);
    ASSERT_EQ(5u, out.size());
    for (size_t i = 0; i < 5; ++i) EXPECT_TRUE(out[i] == records[i]) << i;
    EXPECT_EQ(L"", takeLogText(*log));
}

TEST_F(DriverLocalTest, PauseSuspendsTheReaderAndResumeGoesOnWithTheSameAgent)
{
    auto agent = makeAgent();
    start(*agent);
    ASSERT_TRUE(device.sendKey(0x1E, 0));
    deliveredAfter(1);

    EXPECT_TRUE(agent->pause());
    EXPECT_TRUE(agent->suspended());
    EXPECT_FALSE(agent->deviceOpen());
    EXPECT_TRUE(device.waitForNoClient(2000));

    start(*agent);
    EXPECT_FALSE(agent->suspended());
    ASSERT_TRUE(device.sendKey(0x1E, recordKeyBreak));
    const std::vector<keyboardRecord> out = deliveredAfter(2);
    EXPECT_TRUE(out.back() == makeRecord(0x1E, recordKeyBreak)) << describe(out);
}

TEST_F(DriverLocalTest, KeysTheEngineHeldDownComeUpWhenTheAgentPausesOrIsSwitchedOff)
{
    loadQTypesW();
    auto agent = makeAgent();
    start(*agent);
    ASSERT_TRUE(device.sendKey(0x2A, 0));  // left Shift held
    ASSERT_TRUE(device.sendKey(0x10, 0));  // q held
    std::vector<keyboardRecord> out = deliveredAfter(2);
    EXPECT_TRUE(out[1] == makeRecord(0x11, 0)) << describe(out);

    // The session is locked: w and Shift come up before pause returns, the converted key first.
    EXPECT_TRUE(agent->pause());
    out = deliveredAfter(4);
    ASSERT_EQ(4u, out.size()) << describe(out);
    EXPECT_TRUE(out[2] == makeRecord(0x11, recordKeyBreak)) << describe(out);
    EXPECT_TRUE(out[3] == makeRecord(0x2A, recordKeyBreak)) << describe(out);

    // Unlocked, q's release is an ordinary key again; a new q converts as before.
    start(*agent);
    ASSERT_TRUE(device.sendKey(0x10, recordKeyBreak));
    ASSERT_TRUE(device.sendKey(0x10, 0));
    out = deliveredAfter(6);
    EXPECT_TRUE(out[4] == makeRecord(0x10, recordKeyBreak)) << describe(out);
    EXPECT_TRUE(out[5] == makeRecord(0x11, 0)) << describe(out);

    // Switched off (the tray's pause, or the stop key) with w down: w comes up at once, and q's
    // release then passes unchanged.
    agent->setEnabled(false);
    out = deliveredAfter(7);
    EXPECT_TRUE(out[6] == makeRecord(0x11, recordKeyBreak)) << describe(out);
    ASSERT_TRUE(device.sendKey(0x10, recordKeyBreak));
    out = deliveredAfter(8);
    EXPECT_TRUE(out[7] == makeRecord(0x10, recordKeyBreak)) << describe(out);
    Sleep(30);
    EXPECT_EQ(8u, device.delivered().size()) << describe(device.delivered());
}

TEST_F(DriverLocalTest, PauseWaitsForOutputTheHookLibraryHoldsBack)
{
    loadQTypesW();
    auto agent = makeAgent();
    start(*agent);
    ASSERT_TRUE(device.sendKey(0x2A, 0));  // left Shift held
    ASSERT_TRUE(device.sendKey(0x10, 0));  // q held, typed as w
    deliveredAfter(2);

    // An IME action was posted a moment ago: the library holds output back for a while. The
    // releases wait for it, and go out before the device closes.
    link.mustWait = true;
    std::thread actionEnds([this] {
        Sleep(150);
        link.mustWait = false;
    });
    EXPECT_TRUE(agent->pause());
    actionEnds.join();
    const std::vector<keyboardRecord> out = deliveredAfter(4);
    ASSERT_EQ(4u, out.size()) << describe(out);
    EXPECT_TRUE(out[2] == makeRecord(0x11, recordKeyBreak)) << describe(out);
    EXPECT_TRUE(out[3] == makeRecord(0x2A, recordKeyBreak)) << describe(out);
    EXPECT_EQ(0u, agent->queuedOutput());
}

TEST_F(DriverLocalTest, MarkerEventsReachTheKeyboardDisplayInsteadOfTheLog)
{
    markerWindow display;
    inputHandler::setWindows(nullptr, display.handle);
    auto agent = makeAgent();
    // A map that disables some key sends that key to 0; the marker must still not become a key.
    agent->setScancodeMap(scancodeMap({{0x46, 0x00}}, {{0x00, 0x46}}));
    start(*agent);
    takeLogText(*log);
    keyOutputEvent open = outputOf(true, 0);
    open.isMarker = true;
    keyOutputEvent close = outputOf(false, 0);
    close.isMarker = true;
    EXPECT_TRUE(agent->outputKey(open));
    EXPECT_TRUE(agent->outputKey(close));
    display.pump();
    EXPECT_EQ((std::vector<WPARAM>{1, 0}), markerWindow::marks());
    EXPECT_EQ(std::wstring::npos, takeLogText(*log).find(L"未対応"));
    Sleep(50);
    EXPECT_TRUE(device.delivered().empty()) << "a marker writes no record";
}

TEST_F(DriverLocalTest, TheExclusionMutexHeldElsewhereRefusesTheAgent)
{
    const deviceNames names = standInDeviceNames(device.path());
    HANDLE other = CreateMutexW(nullptr, TRUE, sessionQualifiedName(names.mutexName).c_str());
    try {
        driver_local agent(&link, log, &holder, names, standInDeviceOperations());
        ADD_FAILURE() << "built while the driver is held elsewhere";
    } catch (ErrorMessage& e) {
        EXPECT_EQ(L"Vexaを援用する手続きを中段しました。", e.text());
    }
    CloseHandle(other);
}

}  // namespace
