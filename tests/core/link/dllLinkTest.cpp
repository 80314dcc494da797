// The link's logic over a fake request function: reports, the IME picture, the output roads, the
// output-wait test and the name lists. The real library is exercised by dllLinkLiveTest.
#include "core/link/dllLink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "core/platform/japaneseText.h"

using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

struct request {
    int code;
    unsigned int w;
    long l;
    bool operator==(const request& o) const { return code == o.code && w == o.w && l == o.l; }
};

std::vector<request> g_requests;
fromDll_waitInfoAdds g_answers[16];

fromDll_waitInfoAdds* __cdecl fakeEntry(fromDll::requestToDll code, HWND window, unsigned int w, long l)
{
    g_requests.push_back(request{code, w, l});
    return &g_answers[code & 15];
}

// A link over the fake function, with IME facts and Unicode typing under the test's control.
class testLink : public dllLink {
public:
    testLink() : dllLink(&fakeEntry, L"C:\\fake\\TavolinXPDll.dll") {}
    static imeFacts factsOf(bool wideVkey, bool compStr, const std::wstring& description)
    {
        return imeFacts{wideVkey, compStr, description};
    }
    imeFacts facts{false, false, L"Fake IME 2.0"};
    std::vector<wchar_t> typed;
    std::vector<hookKeyEvent> passed;
    void passKeyOn(const hookKeyEvent& event) override { passed.push_back(event); }

protected:
    UINT typeUnicodeChar(wchar_t ch) override
    {
        typed.push_back(ch);
        return 1;
    }
    imeFacts describeLayout(HKL) override { return facts; }
};

fromDll_waitInfoAdds report(int kind, int info1 = 0, int info2 = 0)
{
    fromDll_waitInfoAdds r = {};
    r.kind = kind;
    r.info1 = info1;
    r.info2 = info2;
    return r;
}

// Messages the link posted to a main window of 0 land in this thread's queue.
int postedCount(UINT message)
{
    int count = 0;
    MSG msg;
    while (PeekMessageW(&msg, reinterpret_cast<HWND>(-1), message, message, PM_REMOVE))
        ++count;
    return count;
}

class dllLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_requests.clear();
        for (auto& a : g_answers)
            a = fromDll_waitInfoAdds{};
        g_answers[fromDll::postTvnMessage].mustWait = 1;
        g_answers[fromDll::sendImeChar].mustWait = 1;
        log = std::make_shared<omsgstream>(0x8066, nullptr);
        log->setShownLevel(1);
        link.setLogStream(log);
        link.setMainWindow(nullptr);
        postedCount(0x8075);
        postedCount(0x8077);
        postedCount(0x8066);
    }

    // The text the log collected since the last call.
    std::wstring logText()
    {
#ifdef TVN_ANSI
        std::wstring text = toWideString(log->takeText());
#else
        std::wstring text = log->takeText();
#endif
        log->clearText();
        return text;
    }

    void openIme(int conversionMode = IME_CMODE_NATIVE | IME_CMODE_FULLSHAPE | IME_CMODE_ROMAN)
    {
        link.handleReport(report(reportStateBits, 0x800, 0x800));
        link.handleReport(report(reportConversionMode, conversionMode, 0));
    }

    // A layout report makes the link take the IME facts (and classify the IME).
    void switchLayout(int layout)
    {
        link.handleReport(report(reportKeyboardLayout, layout));
        g_requests.clear();
        logText();
    }

    testLink link;
    std::shared_ptr<omsgstream> log;
};

}  // namespace

TEST_F(dllLinkTest, emptyAndStopReportsEndTheDrainingOthersAreIgnored)
{
    EXPECT_TRUE(link.handleReport(report(reportEmpty)));
    EXPECT_TRUE(link.handleReport(report(reportStop)));
    for (int kind : {1, 5, 7, 12, 15, 200, -1})
        EXPECT_FALSE(link.handleReport(report(kind, 0x800, 0xFFFF))) << kind;
    EXPECT_EQ(0, link.imeStatusBits());
    EXPECT_EQ(0, link.conversionMode());
    EXPECT_THAT(g_requests, IsEmpty());
    EXPECT_THAT(logText(), IsEmpty());
    hookKeyEvent none = link.popEvent();
    EXPECT_EQ(0, none.scanCode | none.keyFlags | none.vk | none.tick);
}

TEST_F(dllLinkTest, stateBitsMergeByMaskLogTheMarksAndTellTheMainWindow)
{
    link.handleReport(report(reportStateBits, 0x801, 0x803));
    EXPECT_EQ(0x801, link.imeStatusBits());
    EXPECT_EQ(L"IME状態:【○】+caps-kana\n", logText());
    EXPECT_EQ(1, postedCount(0x8075));

    // Bits outside the mask stay as they were.
    link.handleReport(report(reportStateBits, 0x300, 0x304));
    EXPECT_EQ(0xB01, link.imeStatusBits());
    EXPECT_EQ(L"IME状態:{候補表示}[保持]-num\n", logText());
    EXPECT_EQ(1, postedCount(0x8075));

    // A report that changes nothing writes and posts nothing.
    link.handleReport(report(reportStateBits, 0x1, 0x1));
    EXPECT_THAT(logText(), IsEmpty());
    EXPECT_EQ(0, postedCount(0x8075));
    EXPECT_TRUE(link.isImeOpen());
    EXPECT_TRUE(link.isCapsOn());
    EXPECT_FALSE(link.isKanaOn());
}

TEST_F(dllLinkTest, detailLinesNeedTheDetailLevel)
{
    log->setShownLevel(0);
    link.handleReport(report(reportStateBits, 0x1, 0x1));
    EXPECT_THAT(logText(), IsEmpty());
    EXPECT_EQ(0x1, link.imeStatusBits());
}

TEST_F(dllLinkTest, conversionModeLogsEightMarksAndSentenceModeItsWords)
{
    link.handleReport(report(reportConversionMode, 0xB3B, 0x1F));
    EXPECT_EQ(L"入力モード: 全片－直固Ｒ碼◆\n文節モード: 自動変換 後続文字予測 句読点変換 単漢字変換 会話/チャット \n",
              logText());
    EXPECT_EQ(1, postedCount(0x8077));

    // Only the sentence mode changes: its line, and no message.
    link.handleReport(report(reportConversionMode, 0xB3B, 0));
    EXPECT_EQ(L"文節モード: 情報なし \n", logText());
    EXPECT_EQ(0, postedCount(0x8077));

    link.handleReport(report(reportConversionMode, 0, 0));
    EXPECT_EQ(L"入力モード: 半－英－－か－－\n", logText());
    EXPECT_TRUE(link.isAlphanumericMode());
}

TEST_F(dllLinkTest, keyReportsQueueEventsFirstInFirstOut)
{
    const int agent = 0;
    link.takeKeyEvents(&agent);
    // lParam: repeat 1, scan code 0x1E, extended; modifiers: left Alt.
    link.handleReport(report(reportKeyTime, 123456, 'A'));
    link.handleReport(report(reportKeyData, 0x011E0001, 4));
    link.handleReport(report(reportKeyTime, 123460, VK_SPACE));
    link.handleReport(report(reportKeyData, static_cast<int>(0xC0390001u), 0));

    hookKeyEvent first = link.popEvent();
    EXPECT_EQ(0x1E, first.scanCode);
    EXPECT_EQ(0x0004011E, first.keyFlags);
    EXPECT_EQ('A', first.vk);
    EXPECT_EQ(123456, first.tick);
    hookKeyEvent second = link.popEvent();
    EXPECT_EQ(0x39, second.scanCode);
    EXPECT_EQ(0xC039, second.keyFlags);
    EXPECT_EQ(VK_SPACE, second.vk);
    EXPECT_EQ(123460, second.tick);
    EXPECT_EQ(0, link.popEvent().scanCode);
    EXPECT_TRUE(link.passed.empty());
}

TEST_F(dllLinkTest, keysNobodyTakesArePassedOnNeverQueued)
{
    const int agent = 0, other = 0;
    auto swallow = [&](int tick, unsigned lParam) {
        link.handleReport(report(reportKeyTime, tick, 'A'));
        link.handleReport(report(reportKeyData, static_cast<int>(lParam), 0));
    };
    // Before any agent takes keys: passed on at once.
    swallow(1, 0x001E0001u);
    ASSERT_EQ(1u, link.passed.size());
    EXPECT_EQ(0x1E, link.passed[0].keyFlags & 0xFFFF);
    EXPECT_EQ(0, link.popEvent().tick);

    // The taker lets go: what it left queued goes on in order, and later keys go on at once.
    link.takeKeyEvents(&agent);
    swallow(2, 0x001E0001u);
    swallow(3, 0xC01E0001u);
    link.releaseKeyEvents(&other);  // not the taker: nothing happens
    EXPECT_EQ(1u, link.passed.size());
    link.releaseKeyEvents(&agent);
    ASSERT_EQ(3u, link.passed.size());
    EXPECT_EQ(2, link.passed[1].tick);
    EXPECT_EQ(0xC01E, link.passed[2].keyFlags & 0xFFFF);
    EXPECT_EQ(0, link.popEvent().tick);
    swallow(4, 0xC01E0001u);
    EXPECT_EQ(4u, link.passed.size());
    EXPECT_EQ(0, link.popEvent().tick);

    // A key the library already let pass is never typed again, queued or not.
    link.handleReport(report(reportKeyTime, 5, 'A'));
    link.handleReport(report(reportKeyData, 0x001E0001, modifierPassedOn));
    EXPECT_EQ(4u, link.passed.size());
    link.takeKeyEvents(&agent);
    link.handleReport(report(reportKeyTime, 6, 'A'));
    link.handleReport(report(reportKeyData, 0x001E0001, modifierPassedOn));
    link.releaseKeyEvents(&agent);
    EXPECT_EQ(4u, link.passed.size());
}

TEST_F(dllLinkTest, aNewKeyboardLayoutIsClassifiedLoggedAndAskedForItsImeState)
{
    link.facts = testLink::factsOf(false, true, L"Fake IME 2.0");
    link.handleReport(report(reportKeyboardLayout, 0x04110411));
    EXPECT_EQ(L"Fake IME 2.0", link.imeName());
    EXPECT_EQ(L"IME変更 : Fake IME 2.0 : 特段の指定がない IME です。自動判定します。\n", logText());
    ASSERT_EQ(1u, g_requests.size());
    EXPECT_EQ((request{fromDll::postTvnMessage, reportImeStatus, 0}), g_requests[0]);
    EXPECT_TRUE(link.takesCompStr());

    // The same layout again changes nothing.
    g_requests.clear();
    link.handleReport(report(reportKeyboardLayout, 0x04110411));
    EXPECT_THAT(g_requests, IsEmpty());
    EXPECT_THAT(logText(), IsEmpty());
}

TEST_F(dllLinkTest, aLayoutWithoutDescriptionIsNamedByHandleAndLanguageAtLevelZero)
{
    log->setShownLevel(0);
    link.facts = testLink::factsOf(false, false, L"");
    link.handleReport(report(reportKeyboardLayout, 0x04090409));
    const std::wstring name = link.imeName();
    EXPECT_EQ(0u, name.find(L"0x04090409("));
    EXPECT_EQ(L')', name.back());
    EXPECT_GT(name.size(), std::wstring(L"0x04090409()").size());
    EXPECT_EQ(name + L"のIME名称を取得できませんでした。\n : 特段の指定がない IME です。自動判定します。\n", logText());
}

TEST_F(dllLinkTest, outputGoesByUnicodeKeyWhileTheImeIsClosedOrTakesWideKeys)
{
    EXPECT_EQ(1, link.outputChar(L'a'));
    link.facts = testLink::factsOf(true, true, L"Wide IME");
    switchLayout(0x04110411);
    openIme();
    EXPECT_EQ(1, link.outputChar(L'か'));
    EXPECT_EQ((std::vector<wchar_t>{L'a', L'か'}), link.typed);
    EXPECT_THAT(g_requests, IsEmpty());
}

TEST_F(dllLinkTest, anOpenImeGetsCompositionOrImeCharByItsAbilities)
{
    link.facts = testLink::factsOf(false, true, L"Comp IME");
    switchLayout(0x04110411);
    openIme();
    link.outputChar(L'か');
    ASSERT_EQ(1u, g_requests.size());
    EXPECT_EQ((request{fromDll::postTvnMessage, addMoziToImeFunc, L'か'}), g_requests[0]);
    EXPECT_TRUE(link.useImeComposition());

    // An IME that can't take composition strings gets WM_IME_CHAR at the remembered window.
    HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
    link.handleReport(report(reportFocusWindow, 0x1234));
    link.facts = testLink::factsOf(false, false, L"Plain IME");
    switchLayout(0x04120412);
    link.outputChar(L'か');
    ASSERT_EQ(1u, g_requests.size());
    EXPECT_EQ((request{fromDll::sendImeChar, L'か', toWire(window)}), g_requests[0]);
    EXPECT_FALSE(link.useImeComposition());
    EXPECT_THAT(link.typed, IsEmpty());
}

TEST_F(dllLinkTest, anImeForKanaOnlyGetsOtherCharactersAsImeChar)
{
    std::wstring error;
    link.setImeList(error, 3, L"Kana IME.*");
    link.facts = testLink::factsOf(false, true, L"Kana IME 1");
    switchLayout(0x04110411);
    EXPECT_TRUE(link.cantAcceptSymbolDirect());
    openIme();
    link.outputChar(L'。');
    link.outputChar(L'A');
    ASSERT_EQ(2u, g_requests.size());
    EXPECT_EQ(fromDll::postTvnMessage, g_requests[0].code);
    EXPECT_EQ(fromDll::sendImeChar, g_requests[1].code);
    EXPECT_EQ(static_cast<unsigned int>(L'A'), g_requests[1].w);
}

TEST_F(dllLinkTest, anImeListedAsWithoutSetstrNeverComposes)
{
    std::wstring error;
    link.setImeList(error, 2, L"NoSet.*");
    link.facts = testLink::factsOf(false, true, L"NoSet 3");
    switchLayout(0x04110411);
    openIme();
    EXPECT_FALSE(link.useImeComposition());
    link.outputChar(L'か');
    ASSERT_EQ(1u, g_requests.size());
    EXPECT_EQ(fromDll::sendImeChar, g_requests[0].code);
}

TEST_F(dllLinkTest, katakanaModeTurnsHiraganaIntoKatakana)
{
    link.facts = testLink::factsOf(false, true, L"Comp IME");
    switchLayout(0x04110411);
    openIme(IME_CMODE_NATIVE | IME_CMODE_KATAKANA | IME_CMODE_FULLSHAPE);
    link.outputChar(L'か');
    ASSERT_EQ(1u, g_requests.size());
    EXPECT_EQ(static_cast<long>(L'カ'), g_requests[0].l);
}

TEST_F(dllLinkTest, layoutTestsFollowTheImeStateAndTheLists)
{
    // IME closed: no kana layout, romaji unless the kana lock is on.
    EXPECT_FALSE(link.kanaLayoutAllowed());
    EXPECT_TRUE(link.alphabetLayoutAllowed());
    EXPECT_TRUE(link.isRomajiMode());
    link.handleReport(report(reportStateBits, 0x2, 0x2));
    EXPECT_TRUE(link.kanaLayoutAllowed());
    EXPECT_FALSE(link.isRomajiMode());
    link.handleReport(report(reportStateBits, 0, 0x2));

    openIme(IME_CMODE_NATIVE | IME_CMODE_ROMAN);
    EXPECT_TRUE(link.kanaLayoutAllowed());
    EXPECT_TRUE(link.isRomajiMode());
    link.handleReport(report(reportConversionMode, 0, 0));
    EXPECT_FALSE(link.kanaLayoutAllowed());

    // An IME named in the candidate list: both layouts only while 0x400 is clear.
    std::wstring error;
    link.setImeList(error, 0, L"Wind .*");
    link.facts = testLink::factsOf(false, true, L"Wind 2.1");
    switchLayout(0x04110411);
    EXPECT_TRUE(link.candidateThrough());
    EXPECT_TRUE(link.kanaLayoutAllowed());
    link.handleReport(report(reportStateBits, 0x400, 0x400));
    EXPECT_THAT(logText(), HasSubstr(L"<風候補選択>"));
    EXPECT_FALSE(link.kanaLayoutAllowed());
    EXPECT_FALSE(link.alphabetLayoutAllowed());

    // An IME named in the always list: no kana layout unless the kana lock is on.
    link.setImeList(error, 1, L"Stop.*");
    link.facts = testLink::factsOf(false, true, L"Stop IME");
    switchLayout(0x04120412);
    link.handleReport(report(reportStateBits, 0, 0x400));
    EXPECT_TRUE(link.alwaysThrough());
    EXPECT_FALSE(link.kanaLayoutAllowed());
    link.handleReport(report(reportStateBits, 0x2, 0x2));
    EXPECT_TRUE(link.kanaLayoutAllowed());
}

TEST_F(dllLinkTest, setImeListReportsABadPatternAndKeepsTheFlags)
{
    std::wstring error;
    link.setImeList(error, 1, L"Fake.*");
    EXPECT_THAT(error, IsEmpty());
    EXPECT_EQ(L" : 特段の指定がない IME です。自動判定します。\n", logText()) << "no IME known yet";
    link.facts = testLink::factsOf(false, true, L"Fake IME 2.0");
    switchLayout(0x04110411);
    EXPECT_TRUE(link.alwaysThrough());

    link.setImeList(error, 1, L"(unclosed");
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(link.alwaysThrough());
    EXPECT_THAT(logText(), IsEmpty());

    link.setImeList(error, 1, L"");
    EXPECT_THAT(error, IsEmpty());
    EXPECT_FALSE(link.alwaysThrough());
    EXPECT_EQ(L"Fake IME 2.0 : 特段の指定がない IME です。自動判定します。\n", logText());

    link.setImeList(error, 4, L".*");
    EXPECT_FALSE(error.empty());
}

TEST_F(dllLinkTest, outputWaitsUntilTheDeadlineThenDisarmsTheTimer)
{
    EXPECT_FALSE(link.dllEventJustHappened());
    EXPECT_THAT(g_requests, IsEmpty()) << "no wait asked, nothing to read";

    link.sendRequest(fromDll::postTvnMessage, toggleIme, 0);
    g_answers[fromDll::readWaitTimer].info1 = static_cast<int>(GetTickCount() + 90);
    EXPECT_TRUE(link.dllEventJustHappened());
    EXPECT_TRUE(link.dllEventJustHappened()) << "keeps waiting";

    g_answers[fromDll::readWaitTimer].info1 = static_cast<int>(GetTickCount() - 1);
    g_requests.clear();
    EXPECT_FALSE(link.dllEventJustHappened());
    ASSERT_EQ(2u, g_requests.size());
    EXPECT_EQ((request{fromDll::setWaitTimer, 0, 0}), g_requests[1]);
    g_requests.clear();
    EXPECT_FALSE(link.dllEventJustHappened());
    EXPECT_THAT(g_requests, IsEmpty());
}

TEST_F(dllLinkTest, aRequestWithoutWaitDoesNotCancelAPendingWait)
{
    link.sendRequest(fromDll::postTvnMessage, toggleIme, 0);
    // The settings sheet sends an option meanwhile; its answer asks for no wait.
    link.sendRequest(fromDll::setPassThrough, 1, 0);
    g_answers[fromDll::readWaitTimer].info1 = static_cast<int>(GetTickCount() + 90);
    EXPECT_TRUE(link.dllEventJustHappened());
}

// The record that holds the deadline is shared with every process of the session: a deadline
// beyond the longest wait the library arms is someone else's writing and would stop all output.
TEST_F(dllLinkTest, aDeadlineBeyondTheLibrarysWaitIsClearedLoggedOnceAndNotWaitedFor)
{
    const DWORD twelveDays = 12u * 24 * 3600 * 1000;
    for (DWORD ahead : {twelveDays, DWORD{5000}, DWORD{200}}) {
        SCOPED_TRACE(ahead);
        link.sendRequest(fromDll::postTvnMessage, toggleIme, 0);
        g_answers[fromDll::readWaitTimer].info1 = static_cast<int>(GetTickCount() + ahead);
        g_requests.clear();
        EXPECT_FALSE(link.dllEventJustHappened());
        ASSERT_EQ(2u, g_requests.size());
        EXPECT_EQ((request{fromDll::setWaitTimer, 0, 0}), g_requests[1]);
        g_requests.clear();
        EXPECT_FALSE(link.dllEventJustHappened()) << "still waiting after the clear";
        EXPECT_THAT(g_requests, IsEmpty());
    }
    const std::wstring logged = logText();
    const size_t first = logged.find(L"異常値");
    EXPECT_NE(std::wstring::npos, first);
    EXPECT_EQ(std::wstring::npos, logged.find(L"異常値", first + 1)) << "logged once";
}

TEST_F(dllLinkTest, focusReportsLogTheTopWindowTitleOnce)
{
    HWND top = CreateWindowExW(0, L"STATIC", L"Top\tTitle\x0001tail", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                               nullptr, nullptr, nullptr);
    HWND child = CreateWindowExW(0, L"STATIC", L"child", WS_CHILD, 0, 0, 10, 10, top, nullptr, nullptr, nullptr);
    HWND child2 = CreateWindowExW(0, L"STATIC", L"child2", WS_CHILD, 0, 0, 10, 10, top, nullptr, nullptr, nullptr);
    ASSERT_TRUE(top && child && child2);

    link.handleReport(report(reportFocusWindow, toWire(child)));
    EXPECT_EQ(L"キーボードフォーカス先 : Top\tTitle\n", logText());
    EXPECT_EQ(child, link.lastForegroundWindow());
    link.handleReport(report(reportFocusWindow, toWire(child2)));
    EXPECT_THAT(logText(), IsEmpty()) << "same top-level window";
    EXPECT_EQ(child2, link.lastForegroundWindow());
    link.handleReport(report(reportFocusWindow, 0));
    EXPECT_EQ(child2, link.lastForegroundWindow()) << "a focus leaving keeps the window";

    // A title longer than 450 characters is not logged; the handle is.
    HWND longTop = CreateWindowExW(0, L"STATIC", std::wstring(500, L'x').c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                   nullptr, nullptr, nullptr, nullptr);
    link.handleReport(report(reportFocusWindow, toWire(longTop)));
    wchar_t expected[64];
    swprintf(expected, 64, L"キーボードフォーカス先 : 0x%08lx\n",
             static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(longTop)));
    EXPECT_EQ(expected, logText());
    DestroyWindow(longTop);
    DestroyWindow(top);
}

TEST(dllLinkUnboundTest, anUnboundLinkAnswersAZeroRecord)
{
    dllLink link(nullptr, L"");
    fromDll_waitInfoAdds* answer = link.sendRequest(fromDll::postTvnMessage, 0, 0);
    ASSERT_NE(nullptr, answer);
    EXPECT_EQ(0, answer->kind);
    EXPECT_EQ(0, answer->mustWait);
    EXPECT_FALSE(link.dllEventJustHappened());
}
