// End to end through the default definition files: keys typed with xdotool are converted by an
// input agent and typed again by scan code, and a plain window (its thread only translates and
// dispatches) receives the characters as WM_CHAR. Under Wine a scan-code input becomes a character
// only when it also carries its virtual key.
#include <gtest/gtest.h>

#include <cstdio>

#include "agentTestSupport.h"
#include "core/agents/agents.h"
#include "core/link/dllLink.h"
#include "core/platform/japaneseText.h"
#include "core/settings/settingsHolder.h"
#include "hooklib/protocol.h"
#include "liveDesktop.h"
#include "testTempFolder.h"

namespace {

// The hook library's request function, answering as a library with no hooked application would.
fromDll_waitInfoAdds* __cdecl quietLibrary(fromDll::requestToDll, HWND, unsigned int, long) {
    static fromDll_waitInfoAdds answer;
    answer = fromDll_waitInfoAdds{};
    return &answer;
}

struct agentCase {
    const char* name;
    int driverType;
    const wchar_t* id;
    bool realLibrary;  // the classic agent takes its keys from the hook library's hook
};

void PrintTo(const agentCase& c, std::ostream* os) { *os << c.name; }

const agentCase agentCases[] = {
    {"llhook", 2, L"LLHk", false},
    {"classic", 0, L"1.1C", true},
};

class typedCharactersLiveTest : public ::testing::TestWithParam<agentCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(xdotoolAvailable());
        // The default settings name the definition files below the program folder's data folder.
        std::wstring data = folder.file(L"data");
        ASSERT_TRUE(CreateDirectoryW(data.c_str(), nullptr));
        WIN32_FIND_DATAW found;
        std::wstring source = std::wstring(TVN_SOURCE_DIR) + L"\\data\\";
        HANDLE search = FindFirstFileW((source + L"*.tvn_*").c_str(), &found);
        ASSERT_NE(INVALID_HANDLE_VALUE, search);
        do {
            ASSERT_TRUE(CopyFileW((source + found.cFileName).c_str(), (data + L"\\" + found.cFileName).c_str(), FALSE));
        } while (FindNextFileW(search, &found));
        FindClose(search);

        // One link of each kind for the whole program, as the program has one: the agents are
        // single objects that keep the link they were built with.
        static dllLink* quiet = new dllLink(quietLibrary, L"quiet");
        static dllLink* library = new dllLink(TVN_BIN_DIR);
        link = GetParam().realLibrary ? library : quiet;
        holder = std::make_unique<settingsHolder>(log, link, testVersion(), getEmptyHandler(log, nullptr));
        if (GetParam().realLibrary) link->sendRequest(fromDll::startHooks, 0, 0);
    }

    void TearDown() override {
        if (holder) holder->stopInputHandler();
        if (link && GetParam().realLibrary) link->sendRequest(fromDll::stopHooks, 0, 0);
        pumpMessages(50);
    }

    // Starts the agent on the default settings, with a typing-practice mode when flags are given
    // (the kana layout then acts while the IME is closed; bit 0x80 chooses JIS kana keys), or with
    // an alphabet layout file of the data folder in place of the default one.
    void start(int practiceFlags = -1, const wchar_t* alphabetLayout = nullptr) {
        settingsHolder writer(log, link, testVersion(), getEmptyHandler(log, nullptr));
        writer.setAllToDefault();
        writer.setInt("DriverType", GetParam().driverType);
        if (alphabetLayout) writer.setString("VkConvertA", std::wstring(L"data\\") + alphabetLayout);
        if (practiceFlags >= 0) {
            writer.setBool("GameSwitch", true);
            writer.setInt("GameModeFlags", practiceFlags);
        }
        ASSERT_TRUE(writer.saveFile(folder.file(L"live.ini")));
        ASSERT_TRUE(holder->loadSettingsFile(folder.file(L"live.ini"), folder.path()));
        ASSERT_EQ(GetParam().id, holder->currentAgent->id());
        ASSERT_TRUE(window.focus());
        window.clear();
    }

    // Types with xdotool and waits until the window has the expected number of characters.
    std::wstring typed(const std::wstring& arguments, size_t characters) {
        EXPECT_EQ(0, runXdotool(arguments));
        pumpUntil([&] { return window.text().size() >= characters; }, 3000);
        pumpMessages(200);
        return window.text();
    }

    testTempFolder folder;
    std::shared_ptr<omsgstream> log = makeTestLog();
    dllLink* link = nullptr;
    std::unique_ptr<settingsHolder> holder;
    liveTargetWindow window;
};

TEST_P(typedCharactersLiveTest, AlphabetLayoutTypesLettersShiftedLettersAndPunctuation) {
    start();
    // The alphabet layout converts letters, comma and full stop; Shift and the space bar pass.
    // Shift is held as a typist holds it: xdotool's own "type" lets it go at once after the letter,
    // before the classic agent's round trip through the library can have typed the letter again.
    EXPECT_EQ(L"Tavolin, ok.",
              typed(L"keydown shift sleep 0.05 key t sleep 0.05 keyup shift type --delay 60 'avolin, ok.'", 12));
}

TEST_P(typedCharactersLiveTest, RomajiPracticeTypesTheKanaLayoutAsRomajiWithAThumbChord) {
    start(94);
    // Home row of the kana layout: あいうえお, typed as romaji.
    EXPECT_EQ(L"aiueo", typed(L"key --delay 80 a s d f g", 5));
    window.clear();
    // The left thumb key (space) with a gives ま.
    EXPECT_EQ(L"ma", typed(L"keydown space sleep 0.03 keydown a sleep 0.03 keyup a keyup space", 2));
}

TEST_P(typedCharactersLiveTest, KanaPracticeTypesTheJisKanaKeys) {
    start(94 | 0x80);
    // あいうえお are the JIS kana keys 3 e 4 5 6; with the IME closed they arrive as those.
    EXPECT_EQ(L"3e456", typed(L"key --delay 80 a s d f g", 5));
}

// Programs type far faster than people (auto-type, macro tools, barcode scanners): a burst at
// xdotool's fastest rate through a layout that moves every letter on by one must arrive whole and
// in order, and the keys typed right after it are converted at once.
TEST_P(typedCharactersLiveTest, BurstAtFullSpeedLosesNoKeyAndTheNextKeysAreConverted) {
    const size_t count = 1000;
    const letterBurst burst = makeLetterBurst(count);
    testTempFolder::writeBytes(folder.file(L"data\\burst.tvn_eisu"), burst.layout);
    start(-1, L"burst.tvn_eisu");
    const std::wstring& sent = burst.sent;
    const std::wstring& expected = burst.expected;

    const DWORD begin = GetTickCount();
    EXPECT_EQ(0, runXdotool(L"type --delay 0 " + sent, 60000));
    const DWORD typedIn = GetTickCount() - begin;
    pumpUntil([&] { return window.text().size() >= count; }, 10000);
    pumpMessages(300);
    const std::wstring received = window.text();
    size_t same = 0;
    while (same < received.size() && same < expected.size() && received[same] == expected[same]) ++same;
    std::printf("%s burst: %u keys sent in %lu ms (%.0f keys/s), %u received, first difference at %u\n",
                GetParam().name, static_cast<unsigned>(count), static_cast<unsigned long>(typedIn),
                count * 1000.0 / (typedIn ? typedIn : 1), static_cast<unsigned>(received.size()),
                static_cast<unsigned>(same));
    EXPECT_EQ(count, received.size());
    EXPECT_EQ(expected.size(), same) << "received differs from the converted burst at " << same << ": expected "
                                     << toNarrowString(expected.substr(same > 5 ? same - 5 : 0, 12)) << ", received "
                                     << toNarrowString(received.substr(same > 5 ? same - 5 : 0, 12));

    // The agent holds no key of its own in the session, during a burst or after it.
    EXPECT_EQ(std::vector<int>(), keysHeldDown());

    // Right after the burst, slow typing is converted.
    window.clear();
    EXPECT_EQ(L"bcd", typed(L"key --delay 80 a b c", 3));
}

INSTANTIATE_TEST_SUITE_P(agents, typedCharactersLiveTest, ::testing::ValuesIn(agentCases),
                         [](const ::testing::TestParamInfo<agentCase>& info) { return std::string(info.param.name); });

}  // namespace
