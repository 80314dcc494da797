// The hook library run for real: this process loads it like the main program does and steers it,
// the helper program owns the focused window that the global hooks load the library into.
#include "liveSupport.h"
#include "hooklib/sharedData.h"

#include <imm.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

namespace {

using namespace fromDll;

bool hasReport(const std::vector<fromDll_waitInfoAdds>& reports, int kind)
{
    return std::any_of(reports.begin(), reports.end(), [kind](const fromDll_waitInfoAdds& r) { return r.kind == kind; });
}

void sendKey(WORD vk, WORD scan, bool up)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = scan;
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &in, sizeof(in));
}

class hookLibraryLiveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(library.load(TVN_HOOKLIB_UNICODE_NAME));
        ASSERT_TRUE(target.start());
        library.call(startHooks);
        ASSERT_TRUE(view.open());
    }
    static void TearDownTestSuite()
    {
        if (library.entry) library.call(stopHooks);
        target.stop();
        view.close();
        library.unload();
    }
    void SetUp() override
    {
        ASSERT_TRUE(library.entry);
        ASSERT_EQ(1, target.query(queryTakeFocus));
        ASSERT_TRUE(waitFor([] { return GetForegroundWindow() == target.window; }));
        target.query(queryClearText);
        waitFor([] { return false; }, 100);  // let the focus reports of the set-up arrive
        library.drainReports();
    }
    // Collects reports until one of the kind arrives (or the time is up).
    std::vector<fromDll_waitInfoAdds> reportsUntil(int kind, DWORD timeoutMs = 3000)
    {
        std::vector<fromDll_waitInfoAdds> all;
        waitFor([&] {
            auto more = library.drainReports();
            all.insert(all.end(), more.begin(), more.end());
            return hasReport(all, kind);
        }, timeoutMs);
        return all;
    }

    static loadedLibrary library;
    static hookTarget target;
    static sharedView view;
};

loadedLibrary hookLibraryLiveTest::library;
hookTarget hookLibraryLiveTest::target;
sharedView hookLibraryLiveTest::view;

TEST_F(hookLibraryLiveTest, globalHooksLoadTheLibraryIntoTheHelper)
{
    EXPECT_TRUE(waitFor([] { return target.query(queryLibraryLoaded) == 1; }));
}

TEST_F(hookLibraryLiveTest, requestsAnswerAndChangeTheSharedRecord)
{
    EXPECT_EQ(reportEmpty, library.call(popReport).kind);
    EXPECT_EQ(answerUnknownRequest, library.call(static_cast<requestToDll>(15)).kind);
    EXPECT_EQ(answerUnknownRequest, library.call(setDebugOutput, 2).kind);
    EXPECT_EQ(answerDone, library.call(setDebugOutput, 1).kind);

    library.call(setKakuteiType, 7);
    EXPECT_EQ(3, view.data->kakuteiType);
    library.call(setKakuteiType, 0);
    library.call(setPassThrough, 1);
    EXPECT_EQ(1, view.data->passThrough);
    library.call(setPassThrough, 0);
    EXPECT_EQ(0, view.data->passThrough);
    library.call(setLockSync, 2);
    EXPECT_EQ(0, view.data->capsImeSync);
    EXPECT_EQ(1, view.data->kanaImeSync);
    library.call(setLockSync, 0);

    library.call(setWaitTimer, 1);
    DWORD before = GetTickCount();
    int deadline = library.call(readWaitTimer).info1;
    EXPECT_GE(static_cast<int>(deadline - before), 100);
    EXPECT_LE(static_cast<int>(deadline - before), 150);
    Sleep(30);
    EXPECT_EQ(deadline, library.call(readWaitTimer).info1);
    library.call(setWaitTimer, 0);
    EXPECT_EQ(0, library.call(readWaitTimer).info1);

    // A request waits out a peer that holds the record a while, far beyond a hooked application's moment.
    HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, sessionObjectName(dllMutexName).text);
    ASSERT_NE(nullptr, mutex);
    HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread peer([&] {
        WaitForSingleObject(mutex, INFINITE);
        SetEvent(taken);
        Sleep(hookedLockWaitMs * 6);
        ReleaseMutex(mutex);
    });
    WaitForSingleObject(taken, INFINITE);
    library.call(setPassThrough, 1);
    EXPECT_EQ(1, view.data->passThrough);
    library.call(setPassThrough, 0);
    peer.join();
    CloseHandle(taken);
    CloseHandle(mutex);
}

TEST_F(hookLibraryLiveTest, focusAndImeStateAreReported)
{
    target.query(queryTakeFocus);
    auto reports = reportsUntil(reportConversionMode);
    auto focus = std::find_if(reports.begin(), reports.end(),
                              [](const fromDll_waitInfoAdds& r) { return r.kind == reportFocusWindow && r.info1 != 0; });
    ASSERT_NE(reports.end(), focus);
    EXPECT_EQ(target.edit, windowFromWire(focus->info1));
    EXPECT_TRUE(hasReport(reports, reportFocusSet));
    EXPECT_TRUE(hasReport(reports, reportKeyboardLayout));

    ASSERT_NE(-1, target.query(querySetOpenStatus, 1));
    auto opened = reportsUntil(reportStateBits);
    bool sawOpen = std::any_of(opened.begin(), opened.end(), [](const fromDll_waitInfoAdds& r) {
        return r.kind == reportStateBits && (r.info2 & stateImeOpen) && (r.info1 & stateImeOpen);
    });
    EXPECT_TRUE(sawOpen);
    target.query(querySetOpenStatus, 0);
    auto closed = reportsUntil(reportStateBits);
    bool sawClosed = std::any_of(closed.begin(), closed.end(), [](const fromDll_waitInfoAdds& r) {
        return r.kind == reportStateBits && (r.info2 & stateImeOpen) && !(r.info1 & stateImeOpen);
    });
    EXPECT_TRUE(sawClosed);
}

TEST_F(hookLibraryLiveTest, postedActionArmsTheWaitTimerAndItsExecutionRearmsIt)
{
    fromDll_waitInfoAdds answer = library.call(postTvnMessage, reportImeStatus, 0);
    EXPECT_EQ(1, answer.mustWait);
    // The helper carries the action out, reports the conversion mode and re-arms the timer.
    auto reports = reportsUntil(reportConversionMode);
    EXPECT_TRUE(hasReport(reports, reportConversionMode));
    EXPECT_TRUE(waitFor([] { return view.data->waitPending == 1 && view.data->waitTime == 15; }));
    // Executing it re-armed the timer with 15 ms, fixed at the first read.
    DWORD before = GetTickCount();
    int deadline = library.call(readWaitTimer).info1;
    EXPECT_GE(static_cast<int>(deadline - before), 15);
    EXPECT_LE(static_cast<int>(deadline - before), 75);  // well short of the 100 ms of a post
    EXPECT_EQ(deadline, library.call(readWaitTimer).info1);
    library.call(setWaitTimer, 0);
}

TEST_F(hookLibraryLiveTest, keyboardHookSwallowsAPhysicalKeyAndReportsIt)
{
    library.call(setKeyboardHook, 1);
    sendKey('A', 0x1E, false);
    sendKey('A', 0x1E, true);
    auto reports = reportsUntil(reportKeyData);
    waitFor([] { return false; }, 200);
    auto later = library.drainReports();
    reports.insert(reports.end(), later.begin(), later.end());
    library.call(setKeyboardHook, 0);

    auto time = std::find_if(reports.begin(), reports.end(), [](const fromDll_waitInfoAdds& r) { return r.kind == reportKeyTime; });
    ASSERT_NE(reports.end(), time);
    EXPECT_EQ('A', time->info2);
    ASSERT_NE(reports.end(), time + 1);
    EXPECT_EQ(reportKeyData, (time + 1)->kind);
    EXPECT_EQ(0x1E, ((time + 1)->info1 >> 16) & 0xFF);
    EXPECT_EQ(std::wstring(), target.text());  // swallowed: the edit control never saw it
}

TEST_F(hookLibraryLiveTest, injectedKeysReachTheHelperAndEmptyTheRing)
{
    library.call(setKeyboardHook, 1);
    library.call(injectKey, 0x1E, 0);
    library.call(injectKey, 0x1E, KEYEVENTF_KEYUP);
    library.call(injectKey, 0x30, 0);
    library.call(injectKey, 0x30, KEYEVENTF_KEYUP);
    EXPECT_TRUE(waitFor([] { return target.text() == L"ab"; })) << target.text().size();
    EXPECT_TRUE(waitFor([] { return view.data->injectedRead == view.data->injectedWrite; }));
    library.call(setKeyboardHook, 0);
    EXPECT_FALSE(hasReport(library.drainReports(), reportKeyTime));
}

TEST_F(hookLibraryLiveTest, keysInjectedWithoutTheHookGoAtOnceUnrecorded)
{
    library.call(setKeyboardHook, 0);
    library.call(injectKey, 0x1E, 0);
    library.call(injectKey, 0x1E, KEYEVENTF_KEYUP);
    EXPECT_EQ(view.data->injectedRead, view.data->injectedWrite);  // nothing left for a later hook
    EXPECT_TRUE(waitFor([] { return target.text() == L"a"; })) << target.text().size();
}

// The helper sleeps while keys queue up: the user's key, queued before an equal one of ours,
// takes our record in the keyboard hook, and its own extra information gives it away in the
// message hook. The helper receives ours alone; the user's is reported, once.
TEST_F(hookLibraryLiveTest, aUsersKeyQueuedBeforeAnEqualOneOfOursIsReportedAndOursPasses)
{
    library.call(setKeyboardHook, 1);
    PostMessageW(target.window, WM_APP + 1, queryBusy, 400);
    Sleep(100);
    sendKey('A', 0x1E, false);
    library.call(injectKey, 0x1E, 0);
    library.call(injectKey, 0x1E, KEYEVENTF_KEYUP);
    sendKey('A', 0x1E, true);
    EXPECT_TRUE(waitFor([] { return target.text() == L"a"; })) << target.text().size();
    auto reports = reportsUntil(reportKeyData);
    waitFor([] { return false; }, 300);
    auto later = library.drainReports();
    reports.insert(reports.end(), later.begin(), later.end());
    library.call(setKeyboardHook, 0);
    EXPECT_EQ(L"a", target.text());
    std::vector<unsigned long> keys;
    for (const fromDll_waitInfoAdds& r : reports)
        if (r.kind == reportKeyData) keys.push_back(static_cast<unsigned long>(r.info1) & 0x80FF0000ul);
    EXPECT_EQ((std::vector<unsigned long>{0x1E0000ul, 0x801E0000ul}), keys);
    EXPECT_EQ(view.data->injectedRead, view.data->injectedWrite);
}

// An IME that claims a key makes the message VK_PROCESSKEY between the keyboard hook and the message
// hook. The user's key is still reported, press and release, by the key the keyboard hook saw, and
// reaches neither the application nor the IME; ours passes to the IME as it claimed it.
TEST_F(hookLibraryLiveTest, aKeyTheImeClaimedIsJudgedAndReportedByTheKeyItself)
{
    ASSERT_EQ(1, target.query(queryImeStandIn, 1));
    library.call(setKeyboardHook, 1);
    sendKey('A', 0x1E, false);
    std::vector<fromDll_waitInfoAdds> reports = reportsUntil(reportKeyData);
    // Taken out of the key state too: the application reads no A held.
    EXPECT_EQ(0, target.query(queryKeyDown, 'A'));
    sendKey('A', 0x1E, true);
    waitFor([&] {
        auto more = library.drainReports();
        reports.insert(reports.end(), more.begin(), more.end());
        return std::count_if(reports.begin(), reports.end(), [](const fromDll_waitInfoAdds& r) { return r.kind == reportKeyData; }) >= 2;
    });
    library.call(injectKey, 0x30, 0);
    library.call(injectKey, 0x30, KEYEVENTF_KEYUP);
    EXPECT_TRUE(waitFor([] { return target.query(queryProcessKeysSeen) == 1; })) << target.query(queryProcessKeysSeen);
    waitFor([] { return false; }, 200);
    auto later = library.drainReports();
    reports.insert(reports.end(), later.begin(), later.end());
    library.call(setKeyboardHook, 0);
    target.query(queryImeStandIn, 0);
    std::vector<unsigned long> keys;
    for (const fromDll_waitInfoAdds& r : reports) {
        if (r.kind == reportKeyData) keys.push_back(static_cast<unsigned long>(r.info1) & 0x80FF0000ul);
        if (r.kind == reportKeyTime) {
            EXPECT_EQ('A', r.info2);
        }
    }
    EXPECT_EQ((std::vector<unsigned long>{0x1E0000ul, 0x801E0000ul}), keys);
    EXPECT_EQ(1, target.query(queryProcessKeysSeen));  // ours alone
    EXPECT_EQ(std::wstring(), target.text());
    EXPECT_EQ(view.data->injectedRead, view.data->injectedWrite);
}

TEST_F(hookLibraryLiveTest, keysFindingTheRingFullWaitInOrderUntilTheHookTakesKeysBack)
{
    library.call(setKeyboardHook, 1);
    PostMessageW(target.window, WM_APP + 1, queryBusy, 500);
    Sleep(100);  // nothing takes keys back meanwhile
    for (int i = 0; i < 9; ++i) {
        library.call(injectKey, 0x1E, 0);
        library.call(injectKey, 0x1E, KEYEVENTF_KEYUP);
    }
    library.call(injectKey, 0x30, 0);
    library.call(injectKey, 0x30, KEYEVENTF_KEYUP);
    // Two slots stay free for records a user's key took and gives back.
    EXPECT_EQ(17, (view.data->injectedWrite - view.data->injectedRead + 20) % 20);
    EXPECT_EQ(0u, view.data->injectedResetTick);
    // Each request lets the waiting keys go as the helper takes keys back.
    EXPECT_TRUE(waitFor([] {
        library.call(readWaitTimer);
        return target.text() == L"aaaaaaaaab";
    })) << target.text().size();
    EXPECT_TRUE(waitFor([] { return view.data->injectedRead == view.data->injectedWrite; }));
    EXPECT_EQ(0u, view.data->injectedResetTick);
    library.call(setKeyboardHook, 0);
    EXPECT_FALSE(hasReport(library.drainReports(), reportKeyTime));
}

// Letters by scan code, to see order.
const struct {
    WORD scan;
    wchar_t letter;
} letterKeys[] = {{0x1E, L'a'}, {0x1F, L's'}, {0x20, L'd'}, {0x21, L'f'}, {0x22, L'g'}, {0x23, L'h'}, {0x24, L'j'},
                  {0x25, L'k'}, {0x26, L'l'}, {0x10, L'q'}, {0x11, L'w'}, {0x12, L'e'}, {0x13, L'r'}, {0x14, L't'},
                  {0x15, L'y'}, {0x16, L'u'}, {0x17, L'i'}, {0x18, L'o'}, {0x19, L'p'}, {0x2C, L'z'}};

// The helper is busy for busyMs while the agent's keys (press and release of each letter) queue
// up for it; between runs after the first half of them. Answers what the helper received and
// the key reports that came meanwhile: none of ours may be reported as the user's.
std::wstring injectWhileBusy(hookTarget& target, const loadedLibrary& library, int busyMs, int letters,
                             const std::function<void()>& between, std::vector<fromDll_waitInfoAdds>& keyReports)
{
    std::wstring expected;
    const DWORD busySince = GetTickCount();
    PostMessageW(target.window, WM_APP + 1, queryBusy, busyMs);
    Sleep(100);  // asleep in its window procedure now
    for (int i = 0; i < letters; ++i) {
        if (i == letters / 2 && between) between();
        const auto& key = letterKeys[i % (sizeof letterKeys / sizeof letterKeys[0])];
        library.call(injectKey, key.scan, 0);
        library.call(injectKey, key.scan, KEYEVENTF_KEYUP);
        expected += key.letter;
    }
    // The agent takes reports every 20 ms; each request lets waiting keys go. The helper's text is
    // asked for only once it is awake: the question would wait for it, and no request would come.
    auto takeReports = [&] {
        for (const fromDll_waitInfoAdds& r : library.drainReports())
            if (r.kind == reportKeyTime || r.kind == reportKeyData) keyReports.push_back(r);
    };
    waitFor([&] {
        takeReports();
        return GetTickCount() - busySince > static_cast<DWORD>(busyMs) + 200;
    }, busyMs + 2000);
    waitFor([&] {
        takeReports();
        return target.text().size() >= expected.size();
    }, 5000);
    waitFor([] { return false; }, 300);
    takeReports();
    EXPECT_EQ(expected, target.text());
    return target.text();
}

// An application busy for seconds while sixty of the agent's keys are on their way: each key
// arrives once and in order, none is taken for the user's; so too when the hook is installed again
// (a resumed agent) meanwhile. Conversion switched off and on with keys on their way leaves no
// entry behind.
TEST_F(hookLibraryLiveTest, ourKeysSurviveABusyApplicationAResumedHookAndPassThrough)
{
    library.call(setKeyboardHook, 1);
    std::vector<fromDll_waitInfoAdds> keyReports;
    injectWhileBusy(target, library, 3000, 30, nullptr, keyReports);
    EXPECT_EQ(0u, keyReports.size());
    EXPECT_TRUE(waitFor([] { return view.data->injectedRead == view.data->injectedWrite; }));

    target.query(queryClearText);
    keyReports.clear();
    // Installed again, the hook keeps every entry of the keys on their way.
    injectWhileBusy(target, library, 1500, 8, [] {
        const int before = (view.data->injectedWrite - view.data->injectedRead + 20) % 20;
        library.call(setKeyboardHook, 1);
        EXPECT_EQ(8, before);
        EXPECT_EQ(before, (view.data->injectedWrite - view.data->injectedRead + 20) % 20);
    }, keyReports);
    EXPECT_EQ(0u, keyReports.size());
    EXPECT_TRUE(waitFor([] { return view.data->injectedRead == view.data->injectedWrite; }));

    // Switched off with keys on their way, which then pass as they are; on again once they came.
    target.query(queryClearText);
    keyReports.clear();
    injectWhileBusy(target, library, 1000, 4, [] {
        library.call(setPassThrough, 1);
        EXPECT_EQ(view.data->injectedRead, view.data->injectedWrite);  // no entry left behind
    }, keyReports);
    library.call(setPassThrough, 0);
    EXPECT_EQ(0u, keyReports.size());
    EXPECT_TRUE(waitFor([] {
        library.call(readWaitTimer);  // the agent's requests go on
        return view.data->injectedRead == view.data->injectedWrite;
    }, 4000));
    library.call(setKeyboardHook, 0);
}

TEST_F(hookLibraryLiveTest, alphanumericActionClearsAndRestoresTheNativeMode)
{
    ASSERT_NE(-1, target.query(querySetOpenStatus, 1));
    const LPARAM hiragana = IME_CMODE_NATIVE | IME_CMODE_FULLSHAPE;
    target.query(querySetConversionMode, hiragana);
    ASSERT_EQ(hiragana, target.query(queryConversionMode));

    library.call(postTvnMessage, forceAlphanumeric, 1);
    EXPECT_TRUE(waitFor([] { return target.query(queryConversionMode) == IME_CMODE_FULLSHAPE; }))
        << target.query(queryConversionMode);
    library.call(postTvnMessage, forceAlphanumeric, 1);  // a repeat must not lose the saved mode
    library.call(postTvnMessage, forceAlphanumeric, 0);
    EXPECT_TRUE(waitFor([=] { return target.query(queryConversionMode) == hiragana; }))
        << target.query(queryConversionMode);

    // With the IME closed the mode is left alone.
    target.query(querySetOpenStatus, 0);
    library.call(postTvnMessage, forceAlphanumeric, 1);
    waitFor([] { return false; }, 200);
    EXPECT_EQ(hiragana, target.query(queryConversionMode));
}

TEST_F(hookLibraryLiveTest, characterGoesIntoTheCompositionOrIsTyped)
{
    ASSERT_NE(-1, target.query(querySetOpenStatus, 1));
    library.call(postTvnMessage, addMoziToImeFunc, 0x304B);  // か
    bool arrived = waitFor([] {
        return target.query(queryCompositionChar) == 0x304B || target.text().find(L'\u304B') != std::wstring::npos;
    });
    EXPECT_TRUE(arrived);
    target.query(queryCancelComposition);
    target.query(querySetOpenStatus, 0);
}

TEST_F(hookLibraryLiveTest, characterSentToABusyApplicationDoesNotHoldTheCallerUp)
{
    PostMessageW(target.window, WM_APP + 1, queryBusy, 4000);
    Sleep(200);  // the helper is asleep in its window procedure now
    DWORD start = GetTickCount();
    fromDll_waitInfoAdds answer = library.call(sendImeChar, L'x', toWire(target.edit));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(1, answer.mustWait);
    EXPECT_LT(elapsed, 2500u);
    EXPECT_TRUE(waitFor([] { return target.query(queryLibraryLoaded) == 1; }, 10000));
    target.query(queryClearText);
}

TEST_F(hookLibraryLiveTest, startingTwiceLeavesNoHookBehindAfterStop)
{
    library.call(startHooks);
    library.call(setKeyboardHook, 1);
    library.call(startHooks);
    library.call(stopHooks);
    library.drainReports();
    target.query(queryTakeFocus);
    sendKey('A', 0x1E, false);
    sendKey('A', 0x1E, true);
    waitFor([] { return false; }, 300);
    EXPECT_TRUE(library.drainReports().empty());
    EXPECT_TRUE(waitFor([] { return target.text() == L"a"; })) << target.text().size();
    library.call(startHooks);
}

TEST(hookLibraryBuildsTest, bothBuildsExportTheDecoratedName)
{
    loadedLibrary ansi;
    ASSERT_TRUE(ansi.load(L"TavolinMeDll.dll"));
    EXPECT_EQ(answerUnknownRequest, ansi.call(static_cast<requestToDll>(99)).kind);
    EXPECT_EQ(reportEmpty, ansi.call(popReport).kind);
    ansi.unload();
}

}  // namespace
