// The settings holder over a fake link and a fixed version: the cache follows every setter, copies
// and assignment keep what they must, the IME settings reach the link, messages reach the log.
#include "core/settings/settingsHolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>
#include <vector>

#include "core/link/dllLink.h"
#include "core/platform/japaneseText.h"
#include "core/engine/layoutTable.h"
#include "core/platform/locks.h"
#include "core/settings/versionInfo.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// Records what the holder hands to the link; list `failingList` answers a compile error.
class fakeLink : public dllLinkInterface {
public:
    struct list {
        int index;
        std::wstring pattern;
        bool operator==(const list& o) const { return index == o.index && pattern == o.pattern; }
    };
    struct request {
        int code;
        unsigned int w;
        long l;
        bool operator==(const request& o) const { return code == o.code && w == o.w && l == o.l; }
    };
    std::vector<list> lists;
    std::vector<request> requests;
    int failingList = -1;
    std::wstring path = L"C:\\fake\\TavolinXPDll.dll";
    fromDll_waitInfoAdds answer = {};

    int outputChar(wchar_t) override { return 0; }
    fromDll_waitInfoAdds* sendRequest(fromDll::requestToDll code, unsigned int w, long l) override
    {
        requests.push_back(request{code, w, l});
        return &answer;
    }
    bool handleReport(const fromDll_waitInfoAdds&) override { return true; }
    HWND lastForegroundWindow() override { return nullptr; }
    const std::wstring& dllPath() override { return path; }
    bool kanaLayoutAllowed() override { return false; }
    bool alphabetLayoutAllowed() override { return false; }
    bool isImeOpen() override { return false; }
    bool isRomajiMode() override { return false; }
    bool isCapsOn() override { return false; }
    bool isKanaOn() override { return false; }
    bool isFullShape() override { return false; }
    bool isAlphanumericMode() override { return false; }
    bool isKatakanaMode() override { return false; }
    bool useImeComposition() override { return false; }
    bool dllEventJustHappened() override { return false; }
    bool isConsoleForeground(bool) override { return false; }
    void setImeList(std::wstring& error, int index, const std::wstring& pattern) override
    {
        lists.push_back(list{index, pattern});
        error = index == failingList ? L"unmatched parenthesis" : L"";
    }
    void setMainWindow(HWND) override {}
    void setLogStream(const logStreamPtr&) override {}
    hookKeyEvent popEvent() override { return hookKeyEvent{0, 0, 0, 0}; }
};

class fixedVersion : public versionProvider {
public:
    std::wstring productVersion(const std::wstring& path, bool& found) override
    {
        found = true;
        return L"1.3007";
    }
};

// A stand-in agent: the holder only keeps and shares the pointer, never calls through it.
std::shared_ptr<inputHandler> fakeAgent(std::shared_ptr<int> owner)
{
    return std::shared_ptr<inputHandler>(owner, reinterpret_cast<inputHandler*>(owner.get()));
}

unsigned short scanCodeOf(int vk) { return static_cast<unsigned short>(MapVirtualKeyW(static_cast<UINT>(vk), 0)); }

class settingsHolderTest : public ::testing::Test {
protected:
    settingsHolderTest()
        : version(versions, L"C:\\p\\TavolinXP.exe", L"C:\\p\\TavolinXPDll.dll"),
          log(std::make_shared<omsgstream>(0x8066, nullptr)),
          agentA(std::make_shared<int>(1)),
          holder(log, &link, &version, fakeAgent(agentA))
    {
        holder.setAllToDefault();
        holder.readCache();
    }

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

    fixedVersion versions;
    versionInfo version;
    fakeLink link;
    std::shared_ptr<omsgstream> log;
    std::shared_ptr<int> agentA;
    settingsHolder holder;
};

}  // namespace

TEST_F(settingsHolderTest, thumbKeysAreScanCodesAndTwoShiftKeysAreLeftAndRightShift)
{
    holder.setInt("WinHidariOyaVkCode", VK_SHIFT);
    holder.setInt("WinMigiOyaVkCode", VK_SHIFT);
    EXPECT_EQ(0x2A, holder.cache.leftThumbKey);
    EXPECT_EQ(0x36, holder.cache.rightThumbKey);

    holder.setInt("WinMigiOyaVkCode", VK_CONVERT);
    EXPECT_EQ(scanCodeOf(VK_SHIFT), holder.cache.leftThumbKey);
    EXPECT_EQ(scanCodeOf(VK_CONVERT), holder.cache.rightThumbKey);

    holder.setInt("ForceKanaOnGameMode", VK_NONCONVERT);
    EXPECT_EQ(scanCodeOf(VK_NONCONVERT), holder.cache.forceKanaKey);
    EXPECT_NE(0, holder.cache.leftThumbKey);
}

TEST_F(settingsHolderTest, theDefaultsGiveTheCachesInitialValues)
{
    settingsCache fresh;
    fresh.leftThumbKey = scanCodeOf(VK_SPACE);
    fresh.rightThumbKey = scanCodeOf(VK_CONVERT);
    fresh.forceKanaKey = scanCodeOf(VK_NONCONVERT);
    EXPECT_TRUE(fresh == holder.cache);
}

TEST_F(settingsHolderTest, everySetterIsInTheCacheWhenItReturns)
{
    struct intField {
        const char* key;
        int settingsCache::*field;
    };
    const intField ints[] = {
        {"ApplyShiftLayoutTo", &settingsCache::applyShiftLayoutTo},
        {"AcceptTimer", &settingsCache::acceptTimer},
        {"CancelMultiDownTime", &settingsCache::cancelMultiDownTime},
        {"CancelSands2ndTime", &settingsCache::cancelSands2ndTime},
        {"shiftLayout", &settingsCache::shiftLayout},
        {"GameModeFlags", &settingsCache::gameModeFlags},
        {"WinOutputTimer", &settingsCache::outputTimer},
        {"WinShiftReverseType", &settingsCache::shiftReverseType},
        {"WinShiftReverseTime", &settingsCache::shiftReverseTime},
        {"clearTypeOfStockMiss", &settingsCache::clearTypeOfStockMiss},
        {"TreatInputByVk", &settingsCache::treatInputByVk},
    };
    int value = 1000;
    for (const intField& f : ints) {
        holder.setInt(f.key, ++value);
        EXPECT_EQ(value, holder.cache.*f.field) << f.key;
    }
    struct boolField {
        const char* key;
        bool settingsCache::*field;
    };
    const boolField bools[] = {
        {"KanaConvert", &settingsCache::kanaConvert},
        {"Dvorak", &settingsCache::dvorak},
        {"FuncOutput", &settingsCache::funcOutput},
        {"NumLockConvert", &settingsCache::numLockConvert},
        {"AlwaysReplaceSwitch", &settingsCache::alwaysReplaceSwitch},
        {"CtrlQwerty", &settingsCache::ctrlQwerty},
        {"CtrlMigiOff", &settingsCache::ctrlMigiOff},
        {"MultiDownHold10999", &settingsCache::multiDownHold},
        {"GameSwitch", &settingsCache::gameSwitch},
        {"KANAConvertOnlyInKanaLocked", &settingsCache::kanaConvertOnlyInKanaLocked},
    };
    for (const boolField& f : bools) {
        const bool flipped = !(holder.cache.*f.field);
        holder.setBool(f.key, flipped);
        EXPECT_EQ(flipped, holder.cache.*f.field) << f.key;
        holder.setString(f.key, flipped ? L"false" : L"true");
        EXPECT_EQ(!flipped, holder.cache.*f.field) << f.key;
    }

    holder.setInt("WinOutputTimer", 0);
    holder.setOutputTimerEnabled(true);
    EXPECT_EQ(10070, holder.cache.outputTimer);
    holder.setOutputTimer(35);
    EXPECT_EQ(10035, holder.cache.outputTimer);
    holder.setOutputTimerEnabled(false);
    EXPECT_EQ(35, holder.cache.outputTimer);
}

TEST_F(settingsHolderTest, setterAndCacheStayTogetherAcrossThreads)
{
    std::thread other([&] {
        for (int i = 0; i < 400; ++i)
            holder.setInt("AcceptTimer", i);
    });
    for (int i = 0; i < 400; ++i)
        holder.setInt("CancelMultiDownTime", i);
    other.join();
    EXPECT_EQ(holder.getInt("AcceptTimer"), holder.cache.acceptTimer);
    EXPECT_EQ(holder.getInt("CancelMultiDownTime"), holder.cache.cancelMultiDownTime);
    EXPECT_EQ(399, holder.cache.acceptTimer);
}

TEST_F(settingsHolderTest, aCopySharesTheAgentAndCopiesTheTablesAsValues)
{
    layoutTable kana(1);
    kana.typeModeDefault = 3;
    holder.cache.layoutTables[1] = kana;
    holder.settingsFilePath = L"C:\\p\\default.ini";
    holder.setBool("Dvorak", false);

    settingsHolder copy(holder);
    EXPECT_EQ(holder.currentAgent, copy.currentAgent);
    EXPECT_EQ(2, agentA.use_count() - 1) << "two holders own the agent";
    EXPECT_EQ(L"C:\\p\\default.ini", copy.settingsFilePath);
    EXPECT_EQ(log, copy.log);
    EXPECT_FALSE(copy.differsFrom(holder));
    EXPECT_TRUE(copy.cache == holder.cache);

    copy.cache.layoutTables[1].typeModeDefault = 5;
    EXPECT_EQ(3, holder.cache.layoutTables[1].typeModeDefault);
    EXPECT_FALSE(copy.cache == holder.cache);

    // The copy's setters re-read its own cache only.
    copy.setBool("Dvorak", true);
    EXPECT_TRUE(copy.cache.dvorak);
    EXPECT_FALSE(holder.cache.dvorak);
}

TEST_F(settingsHolderTest, assignmentKeepsTheOwnAgentAndSendsTheImeSettings)
{
    settingsHolder snapshot(holder);
    holder.setInt("AcceptTimer", 55);
    holder.setString("ImeThroughAlways", L"Changed.*");
    holder.settingsFilePath = L"C:\\elsewhere.ini";
    holder.cache.layoutTables[2] = layoutTable(2);

    auto agentB = std::make_shared<int>(2);
    settingsHolder other(log, &link, &version, fakeAgent(agentB));
    other = snapshot;  // the sheet's cancel: the snapshot goes back
    EXPECT_EQ(fakeAgent(agentB), other.currentAgent);
    EXPECT_FALSE(other.differsFrom(snapshot));
    EXPECT_TRUE(other.cache == snapshot.cache);

    link.lists.clear();
    link.requests.clear();
    holder = snapshot;
    EXPECT_EQ(fakeAgent(agentA), holder.currentAgent);
    EXPECT_EQ(100, holder.cache.acceptTimer);
    EXPECT_EQ(0u, holder.cache.layoutTables.count(2));
    EXPECT_EQ(snapshot.settingsFilePath, holder.settingsFilePath);
    ASSERT_EQ(4u, link.lists.size());
    EXPECT_EQ(snapshot.getString("ImeThroughAlways"), link.lists[1].pattern);
    EXPECT_EQ(2u, link.requests.size());

    // Assigning a holder to itself changes nothing but still sends the IME settings.
    holder = holder;
    EXPECT_EQ(100, holder.cache.acceptTimer);
    EXPECT_EQ(8u, link.lists.size());
}

TEST_F(settingsHolderTest, assignmentWaitsForTheTableLock)
{
    settingsHolder snapshot(holder);
    snapshot.cache.layoutTables[1] = layoutTable(1);
    std::atomic<bool> assigned{false};
    tableLock().lock();
    std::thread ui([&] {
        holder = snapshot;
        assigned = true;
    });
    Sleep(100);
    EXPECT_FALSE(assigned) << "tables replaced while an agent looks them up";
    tableLock().unlock();
    ui.join();
    EXPECT_TRUE(assigned);
    EXPECT_EQ(1u, holder.cache.layoutTables.count(1));
}

TEST_F(settingsHolderTest, aCopyWaitsForTheSettingsLock)
{
    std::atomic<bool> copied{false};
    settingsLock().lock();
    std::thread sheet([&] {
        settingsHolder copy(holder);
        copied = true;
    });
    Sleep(100);
    EXPECT_FALSE(copied);
    settingsLock().unlock();
    sheet.join();
    EXPECT_TRUE(copied);
}

TEST_F(settingsHolderTest, applyImeSettingsSendsTheListsTheConfirmTypeAndTheLockSync)
{
    holder.setString("ImeThroughOnCandidate", L"A");
    holder.setString("ImeThroughAlways", L"B(");
    holder.setString("ImeCantUseScsSetstr", L"C");
    holder.setString("ImeCantAcceptSymbolDirect", L"");
    holder.setInt("KantyokuKakuteiType", 2);
    holder.setBool("CapsLockSync2IMEKana", true);
    holder.setBool("SyncKanaLockWithIME", false);
    link.failingList = 1;
    link.lists.clear();
    link.requests.clear();

    holder.applyImeSettings();
    EXPECT_THAT(link.lists, ElementsAre(fakeLink::list{0, L"A"}, fakeLink::list{1, L"B("}, fakeLink::list{2, L"C"},
                                        fakeLink::list{3, L""}));
    EXPECT_THAT(link.requests, ElementsAre(fakeLink::request{fromDll::setKakuteiType, 2, 0},
                                           fakeLink::request{fromDll::setLockSync, 1, 0}));

    holder.setBool("SyncKanaLockWithIME", true);
    link.requests.clear();
    holder.applyImeSettings();
    EXPECT_EQ((fakeLink::request{fromDll::setLockSync, 3, 0}), link.requests.back());
}

TEST_F(settingsHolderTest, messagesReachTheLogAtLevelZeroOnTheirOwnLine)
{
    log->setShownLevel(0);
    holder.reportError(toNarrowString(L"Tavolin用の設定ファイル\n"));
    // A detail line that follows, at a level the log doesn't show, must not take the message along.
    log->lock(1);
    *log << TEXT("detail") << std::endl;
    log->unlock();
    EXPECT_EQ(L"Tavolin用の設定ファイル\n", logText());

    holder.reportError("no line end");
    EXPECT_EQ(L"no line end\n", logText());
}

TEST_F(settingsHolderTest, theVersionComesFromTheVersionInformationAndIsSaved)
{
    EXPECT_EQ(13007, holder.currentVersion());
    std::wostringstream file;
    ASSERT_TRUE(holder.save(file));
    EXPECT_THAT(file.str(), HasSubstr(L"WinTvnVersion=13007\n"));
}
