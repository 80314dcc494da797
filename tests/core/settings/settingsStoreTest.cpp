#include "core/settings/settingsStore.h"

#include "core/platform/locks.h"
#include "core/files/textFile.h"

#include "testTempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <climits>
#include <sstream>
#include <streambuf>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

// A store that answers a fixed version and records its messages and setter calls.
class recordingStore : public settingsStore {
public:
    int version = 13007;
    std::vector<std::string> messages;
    std::vector<std::pair<std::string, std::wstring>> setterCalls;
    // Tests call the setters from several threads; the store locks its map, the record needs its own.
    // (Copies share it.)
    std::shared_ptr<std::mutex> recordLock = std::make_shared<std::mutex>();

    void setString(const std::string& key, const std::wstring& text) override
    {
        record(key, text);
        settingsStore::setString(key, text);
    }
    void setInt(const std::string& key, int value) override
    {
        record(key, std::to_wstring(value));
        settingsStore::setInt(key, value);
    }
    int currentVersion() const override { return version; }
    void reportError(const std::string& message) override
    {
        std::lock_guard<std::mutex> hold(*recordLock);
        messages.push_back(message);
    }

private:
    void record(const std::string& key, const std::wstring& value)
    {
        std::lock_guard<std::mutex> hold(*recordLock);
        setterCalls.emplace_back(key, value);
    }
};

// CP932 bytes of a wide text, converted here independently of the code under test.
std::string cp932(const std::wstring& text)
{
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(932, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(932, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

bool loadText(settingsStore& store, const std::wstring& text)
{
    std::wistringstream in(text);
    return store.load(in);
}

std::wstring savedText(settingsStore& store)
{
    std::wostringstream out;
    EXPECT_TRUE(store.save(out));
    return out.str();
}

// The file a default store saves: every key in byte order, CR LF, CP932, no mark.
const char defaultFile[] =
    "AcceptTimer=100\r\n"
    "AlwaysReplaceFile=data\\\x95\xCF\x8A\xB7\x96\xB3\x82\xB5.tvn_o_numlock\r\n"
    "AlwaysReplaceSwitch=false\r\n"
    "ApplyShiftLayoutTo=15\r\n"
    "AutoMove=false\r\n"
    "CancelMultiDownTime=0\r\n"
    "CancelSands2ndTime=0\r\n"
    "CapsLockSync2IMEKana=false\r\n"
    "ConvertKVk=data\\\x82\xA9\x82\xC8\x93\xFC\x97\xCD\x89\xBB.tvn_o_kana\r\n"
    "ConvertVk=data\\\x83\x8D\x81[\x83}\x8E\x9A\x89\xBB(\x82\x9F\x82\xCDxa\x82\xD9\x82\xA9).tvn_o_roumazi\r\n"
    "CtrlMigiOff=false\r\n"
    "CtrlQwerty=true\r\n"
    "DrawNumColumn=true\r\n"
    "DriverType=2\r\n"
    "Dvorak=true\r\n"
    "ForceKanaOnGameMode=29\r\n"
    "FuncOutput=false\r\n"
    "GameModeFlags=94\r\n"
    "GameSwitch=false\r\n"
    "HiddenKeyBoard=false\r\n"
    "ImeCantAcceptSymbolDirect= \r\n"
    "ImeCantUseScsSetstr=ATOK ?([[:digit:]]{2}|20[[:digit:]]{2}) ?(\x91\xCC\x8C\xB1\x94\xC5)?\r\n"
    "ImeThroughAlways=0x[[:digit:]]{8}\\(.*\\)\r\n"
    "ImeThroughOnCandidate=\x95\x97 2\\.[[:digit:]]+\r\n"
    "KANAConvertOnlyInKanaLocked=false\r\n"
    "KanaConvert=true\r\n"
    "KantyokuKakuteiType=0\r\n"
    "KeyDependsOnMachine=data\\\x95\xCF\x8A\xB7\x96\xB3\x82\xB5.tvn_o_numlock\r\n"
    "LogLevel=0\r\n"
    "MultiDownHold10999=false\r\n"
    "NumLockConvert=false\r\n"
    "ShowLogSwitch=true\r\n"
    "SyncKanaLockWithIME=false\r\n"
    "Tasktray=true\r\n"
    "Title=Tavolin\r\n"
    "TreatInputByVk=1\r\n"
    "UseHojoAlways=true\r\n"
    "VkConvertA=data\\TavolinQWERTY(JIS).tvn_eisu\r\n"
    "VkConvertC=data\\\x90\xA7\x8C\xE4\x88\xEA\x94\xC5.tvn_kinou\r\n"
    "VkConvertK=data\\\x83" "A\x83" "C\x83" "E\x83G\x83I\x94z\x97\xF1Tavolin\x8E" "d\x97l\x93\xF1\x94\xC5.tvn_kana\r\n"
    "VkConvertN=data\\NumLock\x88\xEA\x94\xC5.tvn_numlock\r\n"
    "WinFrame=false\r\n"
    "WinHidariOyaVkCode=32\r\n"
    "WinHojoVkCode=0\r\n"
    "WinImeStateDisplay=0\r\n"
    "WinMigiOyaVkCode=28\r\n"
    "WinMozzilaCheck=false\r\n"
    "WinOutputTimer=0\r\n"
    "WinShiftReverseTime=80\r\n"
    "WinShiftReverseType=0\r\n"
    "WinThroughlyCloseCandidate=false\r\n"
    "WinTvnVersion=13007\r\n"
    "WinXPos=0\r\n"
    "WinXSize=320\r\n"
    "WinYPos=0\r\n"
    "WinYSize=200\r\n"
    "clearTypeOfStockMiss=0\r\n"
    "shiftLayout=0\r\n";

// The refusal message, as raw CP932 bytes.
const char titleMessage[] =
    "Tavolin\x97p\x82\xCC\x90\xDD\x92\xE8\x83t\x83@\x83" "C\x83\x8B\x82\xC5\x82\xA0\x82\xE9\x82\xB1\x82\xC6\x82\xF0"
    "\x8Am\x94" "F\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81" "B\n";

std::string duplicateMessage(const std::string& key, const std::wstring& value)
{
    return key + cp932(L"の指定が重複しています。後に指定された ") + cp932(value) + cp932(L" が有効となります。\n");
}

}  // namespace

TEST(settingsFile, defaultStoreSavesTheExactFile)
{
    testTempFolder folder;
    const std::wstring path = folder.file(L"default.ini");
    recordingStore store;
    store.setAllToDefault();
    {
        textFileWriter writer(path);
        ASSERT_TRUE(store.save(writer));
        writer.save();
        EXPECT_FALSE(writer.fail());
    }
    EXPECT_EQ(testTempFolder::readBytes(path), std::string(defaultFile));
    EXPECT_TRUE(store.messages.empty());

    // The version and Title went through the virtual setters, where a derived store sees them.
    ASSERT_EQ(store.setterCalls.size(), 2u);
    EXPECT_EQ(store.setterCalls[0], std::make_pair(std::string("WinTvnVersion"), std::wstring(L"13007")));
    EXPECT_EQ(store.setterCalls[1], std::make_pair(std::string("Title"), std::wstring(L"Tavolin")));

    // That file loads back to the same settings without a message.
    recordingStore reloaded;
    textFileReader reader(path);
    ASSERT_TRUE(reloaded.load(reader));
    EXPECT_FALSE(reloaded.differsFrom(store));
    EXPECT_TRUE(reloaded.messages.empty());
}

TEST(settingsFile, newerVersionInTheStoreIsKeptOnSave)
{
    recordingStore store;
    store.setInt("WinTvnVersion", 20000);
    const std::wstring text = savedText(store);
    EXPECT_NE(text.find(L"WinTvnVersion=20000\n"), std::wstring::npos);
    EXPECT_EQ(store.getInt("WinTvnVersion"), 20000);
}

TEST(settingsFile, roundTripKeepsEveryValue)
{
    testTempFolder folder;
    recordingStore store;
    store.setAllToDefault();
    store.setString("VkConvertK", L"C:\\配列\\新しい配列.tvn_kana");
    store.setString("Formula", L"a=b=c");                    // '=' inside a value
    store.setString("Spaced", L"  leading and trailing  ");  // spaces are not trimmed
    store.setString("Emoji", L"caf\u00E9 \U0001F600");       // no CP932 form: the file becomes Unicode
    store.setString("Empty", L"");
    store.setOutputTimerEnabled(true);
    store.getString("ReadButNeverSet");                       // written as "ReadButNeverSet="

    const std::wstring path = folder.file(L"roundtrip.ini");
    {
        textFileWriter writer(path);
        ASSERT_TRUE(store.save(writer));
        writer.save();
    }
    recordingStore reloaded;
    textFileReader reader(path);
    ASSERT_TRUE(reloaded.load(reader));
    EXPECT_TRUE(reloaded.messages.empty());
    EXPECT_FALSE(reloaded.differsFrom(store));
    EXPECT_EQ(reloaded.getString("Emoji"), L"caf\u00E9 \U0001F600");
    EXPECT_EQ(reloaded.getString("VkConvertK"), L"C:\\配列\\新しい配列.tvn_kana");
    EXPECT_EQ(reloaded.getString("Formula"), L"a=b=c");
    EXPECT_EQ(reloaded.getInt("WinOutputTimer"), 10070);
}

TEST(settingsFile, duplicateKeysAreReportedAndTheLaterValueWins)
{
    recordingStore store;
    ASSERT_TRUE(loadText(store, L"Title=Tavolin\nWinTvnVersion=13000\nAcceptTimer=80\nAcceptTimer=120\n"
                                L"VkConvertK=一\nVkConvertK=二.tvn_kana\n"));
    ASSERT_EQ(store.messages.size(), 2u);
    EXPECT_EQ(store.messages[0], duplicateMessage("AcceptTimer", L"120"));
    EXPECT_EQ(store.messages[1], duplicateMessage("VkConvertK", L"二.tvn_kana"));
    EXPECT_EQ(store.getInt("AcceptTimer"), 120);
    EXPECT_EQ(store.getString("VkConvertK"), L"二.tvn_kana");
}

TEST(settingsFile, wrongOrMissingTitleIsRefusedAndChangesNothing)
{
    const std::wstring refusedTexts[] = {
        L"Title=Tavolin \nWinTvnVersion=13000\n",  // the space is part of the value
        L"Title=tavolin\nWinTvnVersion=13000\n",   // case matters
        L"WinTvnVersion=13000\nAcceptTimer=50\n",  // no Title at all
        L"",                                        // an empty or unreadable file
    };
    for (const std::wstring& text : refusedTexts) {
        recordingStore store;
        store.setAllToDefault();
        store.setString("AcceptTimer", L"77");
        recordingStore before(store);
        EXPECT_FALSE(loadText(store, text));
        ASSERT_EQ(store.messages.size(), 1u);
        EXPECT_EQ(store.messages[0], std::string(titleMessage));
        EXPECT_FALSE(store.differsFrom(before));
        EXPECT_EQ(store.lastLoadRefusedFile(), !text.empty());
    }
}

TEST(settingsFile, versionChecks)
{
    recordingStore future;
    future.setString("AcceptTimer", L"77");
    EXPECT_FALSE(loadText(future, L"Title=Tavolin\nWinTvnVersion=13008\nAcceptTimer=50\n"));
    ASSERT_EQ(future.messages.size(), 1u);
    EXPECT_EQ(future.messages[0], cp932(L"設定ファイルに未知の版号(13008)が指定されています。\n"));
    EXPECT_EQ(future.getInt("AcceptTimer"), 77);
    EXPECT_TRUE(future.lastLoadRefusedFile());

    // A number beyond the int range is still a newer version, not a doubtful one.
    recordingStore huge;
    EXPECT_FALSE(loadText(huge, L"Title=Tavolin\nWinTvnVersion=99999999999\n"));
    ASSERT_EQ(huge.messages.size(), 1u);
    EXPECT_EQ(huge.messages[0], cp932(L"設定ファイルに未知の版号(99999999999)が指定されています。\n"));

    recordingStore zero;
    EXPECT_TRUE(loadText(zero, L"Title=Tavolin\nWinTvnVersion=0\nAcceptTimer=50\n"));
    ASSERT_EQ(zero.messages.size(), 1u);
    EXPECT_EQ(zero.messages[0], cp932(L"設定ファイルに不正と思われる版号(0)が指定されています。\n"));
    EXPECT_EQ(zero.getInt("AcceptTimer"), 50);
    EXPECT_FALSE(zero.lastLoadRefusedFile());

    // Missing or not a number reads as 0: doubtful, reported with the stored text, accepted.
    recordingStore missing;
    EXPECT_TRUE(loadText(missing, L"Title=Tavolin\n"));
    ASSERT_EQ(missing.messages.size(), 1u);
    EXPECT_EQ(missing.messages[0], cp932(L"設定ファイルに不正と思われる版号()が指定されています。\n"));
    EXPECT_EQ(missing.getString("WinTvnVersion"), L"0");

    recordingStore words;
    EXPECT_TRUE(loadText(words, L"Title=Tavolin\nWinTvnVersion=新版\n"));
    ASSERT_EQ(words.messages.size(), 1u);
    EXPECT_EQ(words.messages[0], cp932(L"設定ファイルに不正と思われる版号(新版)が指定されています。\n"));

    recordingStore current;
    EXPECT_TRUE(loadText(current, L"Title=Tavolin\nWinTvnVersion=13007"));  // no final line end
    EXPECT_TRUE(current.messages.empty());
    EXPECT_EQ(current.getInt("WinTvnVersion"), 13007);
}

TEST(settingsFile, missingKeysTakeDefaultsAndUnknownKeysStay)
{
    recordingStore store;
    store.setString("StaleKey", L"from before");
    ASSERT_TRUE(loadText(store, L"Title=Tavolin\r\nWinTvnVersion=13000\r\nMyOwnKey=kept\r\nAcceptTimer=60\r\n"));
    settingsMap defaults;
    fillDefaultSettings(defaults);
    for (const settingsMap::value_type& d : defaults) {
        if (d.first == "WinTvnVersion" || d.first == "AcceptTimer") continue;
        EXPECT_EQ(store.getString(d.first), d.second) << d.first;
    }
    EXPECT_EQ(store.getInt("WinTvnVersion"), 13000);
    EXPECT_EQ(store.getInt("AcceptTimer"), 60);
    EXPECT_EQ(store.getString("MyOwnKey"), L"kept");

    // The old map was replaced whole, and the result has exactly the file's keys plus defaults.
    recordingStore expected;
    expected.setAllToDefault();
    expected.setString("Title", L"Tavolin");
    expected.setString("WinTvnVersion", L"13000");
    expected.setString("MyOwnKey", L"kept");
    expected.setString("AcceptTimer", L"60");
    EXPECT_FALSE(store.differsFrom(expected));
}

TEST(settingsFile, lineEndsControlCharactersAndSpaces)
{
    recordingStore lf, crlf;
    ASSERT_TRUE(loadText(lf, L"Title=Tavolin\nWinTvnVersion=13000\nAcceptTimer = 100\n\tShiftKey\t=\t5\t\nlonely\n"));
    ASSERT_TRUE(loadText(crlf, L"Title=Tavolin\r\nWinTvnVersion=13000\r\nAcceptTimer = 100\r\n\tShiftKey\t=\t5\t\r\nlonely\r\n"));
    EXPECT_FALSE(lf.differsFrom(crlf));

    // Control characters at the ends are trimmed, spaces are not.
    EXPECT_EQ(lf.getString("AcceptTimer "), L" 100");
    EXPECT_EQ(lf.getInt("AcceptTimer"), 100);  // the default: the spaced key is another key
    EXPECT_EQ(lf.getString("ShiftKey"), L"5");
    // A line without "=" is both key and value.
    EXPECT_EQ(lf.getString("lonely"), L"lonely");
}

TEST(settingsStore, getIntAndGetBoolReadTextStrictly)
{
    recordingStore store;
    const std::pair<const wchar_t*, int> cases[] = {
        {L"42", 42}, {L"  -7", -7}, {L"12ab", 12}, {L"+3", 3}, {L"abc", 0}, {L"", 0},
        {L"99999999999", INT_MAX}, {L"-99999999999", INT_MIN}, {L"0x1F", 0},
    };
    for (const auto& c : cases) {
        store.setString("Number", c.first);
        EXPECT_EQ(store.getInt("Number"), c.second) << "text: " << testing::PrintToString(std::wstring(c.first));
    }
    store.setInt("Number", -2147483647 - 1);
    EXPECT_EQ(store.getString("Number"), L"-2147483648");
    store.setInt("Number", 1234567);
    EXPECT_EQ(store.getString("Number"), L"1234567");  // no digit grouping

    const std::pair<const wchar_t*, bool> bools[] = {{L"true", true}, {L"True", false}, {L"1", false}, {L"true ", false}};
    for (const auto& b : bools) {
        store.setString("Flag", b.first);
        EXPECT_EQ(store.getBool("Flag"), b.second);
    }
    store.setBool("Flag", false);
    EXPECT_EQ(store.getString("Flag"), L"false");

    // Reading a missing key adds it empty, so that it shows in the next saved file.
    EXPECT_EQ(store.getString("NeverSet"), L"");
    EXPECT_NE(savedText(store).find(L"\nNeverSet=\n"), std::wstring::npos);
}

TEST(settingsStore, outputTimerPacksSwitchAndMilliseconds)
{
    recordingStore store;
    const struct {
        int before;
        bool on;
        int after;
    } switches[] = {{0, true, 10070}, {35, true, 10035}, {10035, true, 10035}, {10035, false, 35}, {35, false, 35}};
    for (const auto& s : switches) {
        store.setInt("WinOutputTimer", s.before);
        store.setOutputTimerEnabled(s.on);
        EXPECT_EQ(store.getInt("WinOutputTimer"), s.after) << s.before << (s.on ? " on" : " off");
    }
    store.setInt("WinOutputTimer", 10070);
    store.setOutputTimer(50);
    EXPECT_EQ(store.getInt("WinOutputTimer"), 10050);
    store.setInt("WinOutputTimer", 70);
    store.setOutputTimer(50);
    EXPECT_EQ(store.getInt("WinOutputTimer"), 50);
    store.setInt("WinOutputTimer", 10070);
    store.setOutputTimer(INT_MAX);  // never wraps to a negative value
    EXPECT_EQ(store.getInt("WinOutputTimer"), INT_MAX);

    // Both go through setInt, where a derived store sees them.
    store.setInt("WinOutputTimer", 70);
    store.setterCalls.clear();
    store.setOutputTimer(20);
    store.setOutputTimerEnabled(true);
    ASSERT_EQ(store.setterCalls.size(), 2u);
    EXPECT_EQ(store.setterCalls[1], std::make_pair(std::string("WinOutputTimer"), std::wstring(L"10020")));
}

TEST(settingsStore, defaultsResetAndCompare)
{
    settingsMap map;
    map["Title"] = L"Tavolin";
    map["Unknown"] = L"x";
    map["AcceptTimer"] = L"5";
    fillDefaultSettings(map);
    EXPECT_EQ(map.size(), defaultSettingsCount() + 2);
    EXPECT_EQ(defaultSettingsCount(), 57u);
    EXPECT_EQ(map["Title"], L"Tavolin");
    EXPECT_EQ(map["Unknown"], L"x");
    EXPECT_EQ(map["AcceptTimer"], L"100");
    EXPECT_EQ(map["ImeCantAcceptSymbolDirect"], L" ");
    EXPECT_EQ(map["KeyDependsOnMachine"], map["AlwaysReplaceFile"]);
    EXPECT_EQ(std::string(defaultSettingsTable()[0].key), "WinTvnVersion");
    EXPECT_EQ(std::string(defaultSettingsTable()[56].key), "TreatInputByVk");

    recordingStore store;
    store.setAllToDefault();
    recordingStore copy(store);
    EXPECT_FALSE(store.differsFrom(copy));
    store.setString("Mine", L"kept");
    store.setInt("AcceptTimer", 70);
    EXPECT_TRUE(store.differsFrom(copy));
    store.setAllToDefault();  // defaults back, other keys stay
    EXPECT_EQ(store.getInt("AcceptTimer"), 100);
    EXPECT_EQ(store.getString("Mine"), L"kept");
    EXPECT_TRUE(store.differsFrom(copy));  // one more key

    store.setInt("AcceptTimer", 70);
    store.setterCalls.clear();
    store.resetToDefault("AcceptTimer");
    store.resetToDefault("Mine");
    EXPECT_EQ(store.getInt("AcceptTimer"), 100);
    EXPECT_EQ(store.getString("Mine"), L"");
    ASSERT_EQ(store.setterCalls.size(), 2u);  // through the virtual setter
    EXPECT_EQ(store.setterCalls[0], std::make_pair(std::string("AcceptTimer"), std::wstring(L"100")));

    copy.setString("Mine", L"");
    EXPECT_FALSE(store.differsFrom(copy));
    copy.setString("Mine", L"other");
    EXPECT_TRUE(store.differsFrom(copy));
}

namespace {

// An output buffer that accepts a fixed number of characters and then fails.
class limitedBuffer : public std::wstreambuf {
public:
    explicit limitedBuffer(std::size_t room) : m_room(room) {}
    std::wstring text;

protected:
    int_type overflow(int_type ch) override
    {
        if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
        if (m_room == 0) return traits_type::eof();
        --m_room;
        text += traits_type::to_char_type(ch);
        return ch;
    }

private:
    std::size_t m_room;
};

}  // namespace

TEST(settingsFile, failingStreamIsReportedByTheSave)
{
    const std::string message = cp932(L"設定ファイル保存用データの作成中に問題が発生しました。");
    recordingStore store;
    store.setAllToDefault();

    limitedBuffer buffer(100);
    std::wostream out(&buffer);
    EXPECT_FALSE(store.save(out));
    ASSERT_EQ(store.messages.size(), 1u);
    EXPECT_EQ(store.messages[0], message);
    EXPECT_EQ(buffer.text.substr(0, 16), L"AcceptTimer=100\n");  // the lines before stay

    recordingStore bad;
    std::wostringstream closed;
    closed.setstate(std::ios::badbit);
    EXPECT_FALSE(bad.save(closed));
    ASSERT_EQ(bad.messages.size(), 1u);
    EXPECT_EQ(bad.messages[0], message);
}

TEST(settingsStore, saveWhileOtherThreadsAddKeys)
{
    recordingStore store;
    store.setAllToDefault();
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        // A bounded set of keys, and the store's own setter: an ever-growing map or setter log made
        // every save slower than the last and the test run for minutes under load.
        for (int i = 0; !stop; ++i) {
            store.getString("Added" + std::to_string(i % 1000));
            store.settingsStore::setInt("AcceptTimer", i % 500);
        }
    });
    for (int round = 0; round < 30; ++round) {
        const std::wstring text = savedText(store);
        std::wistringstream lines(text);
        std::wstring line;
        int count = 0;
        while (std::getline(lines, line)) {
            ASSERT_NE(line.find(L'='), std::wstring::npos) << "broken line in a save taken while keys were added";
            ++count;
        }
        EXPECT_GE(count, 58);
    }
    stop = true;
    reader.join();
}

TEST(settingsFile, refusedFileIsKeptBesideBeforeItIsOverwritten)
{
    testTempFolder folder;
    const std::wstring path = folder.file(L"default.ini");
    const std::string newer = "Title=Tavolin\r\nWinTvnVersion=14000\r\nFutureKey=\x93\xFA\x96{\r\n";
    testTempFolder::writeBytes(path, newer);

    recordingStore store;
    {
        textFileReader reader(path);
        EXPECT_FALSE(store.load(reader));
    }
    ASSERT_TRUE(store.lastLoadRefusedFile());
    store.setAllToDefault();  // what start-up does after a refused file

    store.messages.clear();
    ASSERT_TRUE(store.keepRefusedFile(path));
    EXPECT_FALSE(store.lastLoadRefusedFile());
    EXPECT_EQ(testTempFolder::readBytes(path + L".bak"), newer);
    ASSERT_EQ(store.messages.size(), 1u);
    EXPECT_NE(store.messages[0].find(cp932(path + L".bak")), std::string::npos);
    {
        textFileWriter writer(path);
        ASSERT_TRUE(store.save(writer));
        writer.save();
    }
    EXPECT_EQ(testTempFolder::readBytes(path + L".bak"), newer);  // still there after the save
    EXPECT_NE(testTempFolder::readBytes(path), newer);

    // Nothing more to keep: a second call copies nothing.
    EXPECT_TRUE(store.keepRefusedFile(path));
    EXPECT_EQ(testTempFolder::exists(path + L".bak2"), false);

    // Another refused file never overwrites the first copy.
    testTempFolder::writeBytes(path, "not a settings file");
    {
        textFileReader reader(path);
        EXPECT_FALSE(store.load(reader));
    }
    ASSERT_TRUE(store.keepRefusedFile(path));
    EXPECT_EQ(testTempFolder::readBytes(path + L".bak"), newer);
    EXPECT_EQ(testTempFolder::readBytes(path + L".bak2"), "not a settings file");

    // A good load clears the flag; so does a refused file that is empty (nothing to keep).
    testTempFolder::writeBytes(path, "WinTvnVersion=1\r\n");
    {
        textFileReader reader(path);
        EXPECT_FALSE(store.load(reader));
    }
    EXPECT_TRUE(store.lastLoadRefusedFile());
    EXPECT_TRUE(loadText(store, L"Title=Tavolin\nWinTvnVersion=13000\n"));
    EXPECT_FALSE(store.lastLoadRefusedFile());

    testTempFolder::writeBytes(path, "");
    {
        textFileReader reader(path);
        EXPECT_FALSE(store.load(reader));
    }
    EXPECT_FALSE(store.lastLoadRefusedFile());

    // A file that could not be read counts as refused; if it does not exist there is nothing to
    // keep and nothing is reported.
    {
        textFileReader reader(folder.file(L"missing.ini"));
        EXPECT_FALSE(store.load(reader));
    }
    EXPECT_TRUE(store.lastLoadRefusedFile());
    store.messages.clear();
    EXPECT_TRUE(store.keepRefusedFile(folder.file(L"missing.ini")));
    EXPECT_FALSE(store.lastLoadRefusedFile());
    EXPECT_TRUE(store.messages.empty());
    EXPECT_FALSE(testTempFolder::exists(folder.file(L"missing.ini.bak")));
}

TEST(settingsFile, unreadableFileIsKeptOnceItCanBeCopied)
{
    testTempFolder folder;
    const std::wstring path = folder.file(L"default.ini");
    testTempFolder::writeBytes(path, "Title=Tavolin\r\nAcceptTimer=60\r\n");
    recordingStore store;

    // Held open without sharing, the file can be neither read nor copied.
    HANDLE locked = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    {
        textFileReader reader(path);
        EXPECT_FALSE(store.load(reader));
    }
    EXPECT_TRUE(store.lastLoadRefusedFile());
    store.messages.clear();
    EXPECT_FALSE(store.keepRefusedFile(path));
    CloseHandle(locked);
    EXPECT_TRUE(store.lastLoadRefusedFile());
    EXPECT_EQ(store.messages.size(), 1u);
    EXPECT_FALSE(testTempFolder::exists(path + L".bak"));

    // Once the file is free again, the next attempt keeps it.
    EXPECT_TRUE(store.keepRefusedFile(path));
    EXPECT_EQ(testTempFolder::readBytes(path + L".bak"), "Title=Tavolin\r\nAcceptTimer=60\r\n");
    EXPECT_FALSE(store.lastLoadRefusedFile());
}

TEST(settingsStore, everyAccessTakesTheSettingsLock)
{
    recordingStore store;
    store.setAllToDefault();
    std::atomic<int> done{0};
    std::thread other;
    {
        scopedLock hold(settingsLock());
        other = std::thread([&] {
            store.getInt("AcceptTimer");
            ++done;
            store.setInt("AcceptTimer", 5);
            ++done;
        });
        Sleep(50);
        EXPECT_EQ(done.load(), 0);  // the getter waits for the lock
    }
    other.join();
    EXPECT_EQ(done.load(), 2);
    EXPECT_EQ(store.getInt("AcceptTimer"), 5);
}
