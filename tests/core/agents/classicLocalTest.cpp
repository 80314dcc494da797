// The classic agent's logic over a fake hook-library link that hands out swallowed keys.
#include <gtest/gtest.h>

#include <deque>
#include <sstream>

#include "agentTestSupport.h"
#include "core/agents/classicLocal.h"
#include "core/files/layoutReader.h"
#include "core/platform/locks.h"
#include "core/settings/settingsHolder.h"
#include "core/files/substitutionTable.h"

namespace {

const int released = 0x8000;
const int extended = 0x100;

class ClassicLocalTest : public ::testing::Test {
protected:
    ClassicLocalTest() : log(makeTestLog()), holder(log, &link, nullptr, nullptr)
    {
        holder.setAllToDefault();
        holder.readCache();
        classic_local::resetModifierState();
    }

    // The injectKey requests as (scan code, flags), once `count` of them have come.
    std::vector<std::pair<unsigned, long>> injected(size_t count)
    {
        std::vector<std::pair<unsigned, long>> keys;
        const DWORD start = GetTickCount();
        for (;;) {
            keys.clear();
            for (const auto& r : link.requestsOf(fromDll::injectKey)) keys.emplace_back(r.w, r.l);
            if (keys.size() >= count || GetTickCount() - start > 3000) break;
            Sleep(2);
        }
        EXPECT_GE(keys.size(), count);
        return keys;
    }

    keyQueueLink link;
    std::shared_ptr<omsgstream> log;
    settingsHolder holder;
};

using keys = std::vector<std::pair<unsigned, long>>;

TEST_F(ClassicLocalTest, SwallowedKeysAreConvertedAndInjectedBackWithTheirFlags)
{
    log->setShownLevel(1);  // typed keys are logged as detail lines only
    classic_local agent(&link, log, &holder);
    EXPECT_EQ(L"1.1C", agent.id());
    EXPECT_EQ(L"版1.0/1.1号互換入力代行", agent.displayName());
    agent.resume();
    link.push(0x1E, 0);
    link.push(0x1E, released);
    link.push(0x1D, extended);             // right Ctrl
    link.push(0x1D, extended | released);
    EXPECT_EQ((keys{{0x1E, 0}, {0x1E, KEYEVENTF_KEYUP}, {0x1D, KEYEVENTF_EXTENDEDKEY},
                    {0x1D, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP}}),
              injected(4));
    EXPECT_NE(std::wstring::npos, takeLogText(*log).find(L"1.1C "));

    // Without the detail level, no typed key reaches the log.
    log->setShownLevel(0);
    link.push(0x1F, 0);
    link.push(0x1F, released);
    const keys all = injected(6);
    ASSERT_EQ(6u, all.size());
    EXPECT_EQ((keys{{0x1F, 0}, {0x1F, KEYEVENTF_KEYUP}}), keys(all.begin() + 4, all.end()));
    EXPECT_EQ(std::wstring::npos, takeLogText(*log).find(L"1.1C "));
}

TEST_F(ClassicLocalTest, TheRightShiftReleaseReachesTheEngineBeforeTheNextKey)
{
    classic_local agent(&link, log, &holder);
    agent.resume();
    link.push(0x36, 0, 1);   // right Shift down, reported with its bit set
    link.push(0x1E, 0, 0);   // the next key carries the bit clear: Shift went up before it
    link.push(0x1E, released, 0);
    const keys out = injected(4);
    ASSERT_GE(out.size(), 4u);
    EXPECT_EQ((std::pair<unsigned, long>(0x36, 0)), out[0]);
    EXPECT_EQ((std::pair<unsigned, long>(0x36, KEYEVENTF_KEYUP)), out[1]);
    EXPECT_EQ(0x1Eu, out[2].first);
    EXPECT_EQ(0, classic_local::modifierState());
}

TEST_F(ClassicLocalTest, AltChangesReachTheEngineButTheAltKeysAreNeverTyped)
{
    classic_local agent(&link, log, &holder);
    agent.resume();
    link.push(0x1E, 0, 2);         // right Alt went down before this key
    link.push(0x1E, released, 6);  // and left Alt too
    link.push(0x1F, 0, 0);         // both up
    const keys out = injected(3);
    for (const auto& key : out) EXPECT_NE(0x38u, key.first) << "an Alt key was typed";
    EXPECT_EQ(0, classic_local::modifierState());

    // Directly: an Alt output is taken as sent.
    keyOutputEvent alt;
    alt.down = true;
    alt.keyCode = 0xB8;
    const size_t before = link.requestsOf(fromDll::injectKey).size();
    EXPECT_TRUE(agent.outputKey(alt));
    alt.keyCode = 0x38;
    EXPECT_TRUE(agent.outputKey(alt));
    EXPECT_EQ(before, link.requestsOf(fromDll::injectKey).size());
}

// Keys the library let pass unconverted (its report queue was full) are never typed again, and a
// key pressed unconverted is released unconverted.
TEST_F(ClassicLocalTest, KeysTheLibraryPassedAreNotTypedAgainAndTheirReleasesStayUnconverted)
{
    classic_local agent(&link, log, &holder);
    agent.resume();
    link.push(0x1E, 0, modifierPassedOn);         // a press that passed
    link.push(0x1E, released);                    // its release, reported: goes on as it came
    link.push(0x1F, 0);                           // converted as usual
    link.push(0x1F, released, modifierPassedOn);  // its release passed: the engine lets go
    link.push(0x20, 0);                           // converted as usual
    link.push(0x20, 0, modifierPassedOn);         // a repeat that passed
    link.push(0x20, released, modifierPassedOn);  // its release passed: the engine lets go all the same
    const keys expected{{0x1E, KEYEVENTF_KEYUP}, {0x1F, 0}, {0x1F, KEYEVENTF_KEYUP}, {0x20, 0}, {0x20, KEYEVENTF_KEYUP}};
    EXPECT_EQ(expected, injected(5));
    Sleep(50);
    EXPECT_EQ(expected, injected(5));  // and nothing after
}

TEST_F(ClassicLocalTest, AStoppedAgentPassesKeysOnAsTheyCame)
{
    classic_local agent(&link, log, &holder);
    agent.resume();
    agent.setEnabled(false);
    link.push(0x3A, 0);
    link.push(0x2C, 0, modifierPassedOn);  // already passed by the library: not typed twice
    link.push(0x5B, extended | released);
    EXPECT_EQ((keys{{0x3A, 0}, {0x5B, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP}}), injected(2));
}

TEST_F(ClassicLocalTest, WhilePausedTheWorkerTakesNothingFromTheLink)
{
    classic_local agent(&link, log, &holder);
    agent.resume();
    EXPECT_TRUE(agent.pause());
    EXPECT_TRUE(agent.paused());
    ASSERT_FALSE(link.requestsOf(fromDll::setKeyboardHook).empty());
    EXPECT_EQ(0u, link.requestsOf(fromDll::setKeyboardHook).back().w);

    const long polls = link.polls;
    const long reportPolls = link.reportPolls;
    link.push(0x1E, 0);
    Sleep(100);
    // Another agent owns the reports now; a key nobody takes is passed on, never queued.
    EXPECT_EQ(polls, link.polls);
    EXPECT_EQ(reportPolls, link.reportPolls);
    EXPECT_EQ(0u, link.waiting());
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0x1E, 0}}), link.passedOn());

    // Resumed, the agent takes keys again, and nothing of the pause is typed late.
    EXPECT_TRUE(agent.resume());
    EXPECT_EQ(1u, link.requestsOf(fromDll::setKeyboardHook).back().w);
    link.push(0x1F, 0);
    EXPECT_EQ((keys{{0x1F, 0}}), injected(1));
    EXPECT_EQ(0u, link.waiting());
}

TEST_F(ClassicLocalTest, RepeatedPausesAndResumesNeverHang)
{
    classic_local agent(&link, log, &holder);
    for (int i = 0; i < 20; ++i) {
        agent.resume();
        agent.pause();
        agent.pause();
    }
    agent.resume();
    link.push(0x1E, 0);
    EXPECT_EQ(1u, injected(1).size());
}

TEST_F(ClassicLocalTest, RemapLookupAsksWhetherTable1TranslatesTheZenkakuKey)
{
    classic_local agent(&link, log, &holder);
    EXPECT_FALSE(agent.remapLookup(0));
    {
        scopedLock guard(tableLock());
        holder.cache.substitutionTables[1].keyPairs = {{0x29, 0x3A}};
    }
    EXPECT_TRUE(agent.remapLookup(0));
    agent.resume();
    EXPECT_EQ(1u, link.requestsOf(fromDll::setSpareFlag).back().w);
    {
        scopedLock guard(tableLock());
        holder.cache.substitutionTables[1].keyPairs = {{0x29, 0}, {0x1E, 0x1F}};
    }
    EXPECT_FALSE(agent.remapLookup(0));
    {
        scopedLock guard(tableLock());
        holder.cache.substitutionTables[2].keyPairs = {{0x29, 0x3A}};  // not table 1
        holder.cache.substitutionTables[1].keyPairs.clear();
    }
    EXPECT_FALSE(agent.remapLookup(0));
}

// The hook library behind a real link: popReport hands out the reports the test queued; removing
// the keyboard hook leaves the keys it swallowed an instant before in the queue.
sectionLock g_libraryLock;
std::deque<fromDll_waitInfoAdds> g_reports, g_swallowedAtUnhook;
std::vector<std::pair<unsigned, long>> g_injected;

void swallow(std::deque<fromDll_waitInfoAdds>& into, int scanCode, bool release)
{
    const unsigned lParam = (static_cast<unsigned>(scanCode) << 16) | 1u | (release ? 0xC0000000u : 0u);
    into.push_back({reportKeyTime, static_cast<std::int32_t>(GetTickCount() | 1), 0, 0, {}});
    into.push_back({reportKeyData, static_cast<std::int32_t>(lParam), 0, 0, {}});
}

fromDll_waitInfoAdds* __cdecl fakeLibrary(fromDll::requestToDll code, HWND, unsigned w, long l)
{
    thread_local fromDll_waitInfoAdds answer;
    scopedLock guard(g_libraryLock);
    answer = fromDll_waitInfoAdds{};
    if (code == fromDll::popReport && !g_reports.empty()) {
        answer = g_reports.front();
        g_reports.pop_front();
    } else if (code == fromDll::injectKey) {
        g_injected.emplace_back(w, l);
    } else if (code == fromDll::setKeyboardHook && w == 0) {
        g_reports.insert(g_reports.end(), g_swallowedAtUnhook.begin(), g_swallowedAtUnhook.end());
        g_swallowedAtUnhook.clear();
    }
    return &answer;
}

class recordingLink : public dllLink {
public:
    recordingLink() : dllLink(&fakeLibrary, L"fake.dll") {}
    void passKeyOn(const hookKeyEvent& event) override { passed.emplace_back(event.scanCode, event.keyFlags & 0xFFFF); }
    std::vector<std::pair<int, int>> passed;  // only the agent's thread passes keys on here
};

size_t injectedAfter(size_t count)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < 3000; Sleep(2)) {
        scopedLock guard(g_libraryLock);
        if (g_injected.size() >= count) break;
    }
    scopedLock guard(g_libraryLock);
    return g_injected.size();
}

TEST(ClassicLocalPauseTest, APauseConvertsWhatTheHookSwallowedThenReleasesTheConvertedKey)
{
    {
        scopedLock guard(g_libraryLock);
        g_reports.clear();
        g_swallowedAtUnhook.clear();
        g_injected.clear();
    }
    recordingLink link;
    auto log = makeTestLog();
    settingsHolder holder(log, &link, testVersion(), nullptr);
    holder.setAllToDefault();
    holder.readCache();
    {
        layoutReader reader(2);  // the alphabet layout: q types w
        std::wistringstream text(L"visible=1\r\nq\tw\r\n");
        scopedLock guard(tableLock());
        holder.cache.layoutTables[2] = readLayout(reader, text);
    }
    classic_local::resetModifierState();
    classic_local agent(&link, log, &holder);
    agent.resume();
    {
        scopedLock guard(g_libraryLock);
        swallow(g_reports, 0x10, false);            // q held down
        swallow(g_swallowedAtUnhook, 0x1E, false);  // a, typed just before the hook goes
        swallow(g_swallowedAtUnhook, 0x1E, true);
    }
    ASSERT_EQ(1u, injectedAfter(1));  // w down

    // When pause returns, the keys typed before the hook went are converted in their place, then
    // w is up, through the library's queue like every key of the agent; nothing waits in the link.
    agent.pause();
    EXPECT_EQ((std::vector<std::pair<int, int>>{}), link.passed);
    EXPECT_EQ(0, link.popEvent().tick);
    {
        scopedLock guard(g_libraryLock);
        EXPECT_EQ((std::vector<std::pair<unsigned, long>>{
                      {0x11, 0}, {0x1E, 0}, {0x1E, KEYEVENTF_KEYUP}, {0x11, KEYEVENTF_KEYUP}}),
                  g_injected);
        g_injected.clear();
    }

    // Resumed, nothing of before is typed late; q's release, reported now, passes as usual.
    agent.resume();
    {
        scopedLock guard(g_libraryLock);
        swallow(g_reports, 0x10, true);
    }
    ASSERT_EQ(1u, injectedAfter(1));
    Sleep(30);
    scopedLock guard(g_libraryLock);
    EXPECT_EQ((std::vector<std::pair<unsigned, long>>{{0x10, KEYEVENTF_KEYUP}}), g_injected);
}

}  // namespace
