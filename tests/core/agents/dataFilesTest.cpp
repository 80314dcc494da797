#include <gtest/gtest.h>

#include "agentTestSupport.h"
#include "core/agents/agents.h"
#include "core/agents/dataFiles.h"
#include "core/engine/layoutTable.h"
#include "core/settings/settingsHolder.h"
#include "core/files/swapTable.h"
#include "testTempFolder.h"

namespace {

// Stands in for the agent the settings choose, so loading never hooks the desktop here.
class quietAgent : public inputHandler {
public:
    using inputHandler::inputHandler;
    bool pause() override { return true; }
    std::wstring displayName() override { return L"quiet"; }
    bool setFlag(unsigned char value) override { return value != 0; }
    std::wstring id() override { return L"1.1C"; }
    bool outputKey(const keyOutputEvent&) override { return true; }
    bool resume() override { return true; }
};
inputHandler* buildQuiet(dllLinkInterface* link, inputHandler::logStream log, settingsHolder* holder) {
    return new quietAgent(link, std::move(log), holder);
}

const char alphabetLayout[] = "visible=1\r\na\tb\r\nc\td\r\n";
// The second definition of a fails the file.
const char brokenLayout[] = "visible=1\r\nq\tw\r\nq\te\r\n";

keyCode outputOf(const layoutTable& table, keyCode key) {
    for (const auto& entry : table.entries)
        if (entry.keys.size() == 1 && entry.keys[0].first == key && !entry.output.empty())
            return entry.output.front();
    return 0;
}

class dataFilesTest : public ::testing::Test {
protected:
    dataFilesTest() : log(makeTestLog()), holder(log, &link, testVersion(), getEmptyHandler(log, nullptr)) {
        holder.setAllToDefault();
        holder.readCache();
        agentFactory().classic = buildQuiet;
        dataBaseFolder = folder.path();
        testTempFolder::writeBytes(folder.file(L"good.tvn_eisu"), alphabetLayout);
        testTempFolder::writeBytes(folder.file(L"broken.tvn_eisu"), brokenLayout);
        takeLogText(*log);
    }
    ~dataFilesTest() override {
        holder.stopInputHandler();
        agentFactory() = m_registered;  // the builders the program registered
        dataBaseFolder.clear();
    }
    testTempFolder folder;
    inputHandlerFactory m_registered = agentFactory();
    agentFakeLink link;
    std::shared_ptr<omsgstream> log;
    settingsHolder holder;
};

TEST_F(dataFilesTest, ReloadKeepsTheTableInUseWhenTheNewFileFails) {
    ASSERT_TRUE(holder.reloadDataFile(folder.file(L"good.tvn_eisu"), 1));
    ASSERT_EQ(1u, holder.cache.layoutTables.count(2));
    EXPECT_EQ(keyCodeOf('b', 0), outputOf(holder.cache.layoutTables[2], keyCodeOf('a', 0)));
    std::wstring logged = takeLogText(*log);
    EXPECT_NE(std::wstring::npos, logged.find(L"配列情報読込 [ " + folder.file(L"good.tvn_eisu") + L" ]"));

    // A missing file is a failure, logged, never an empty table.
    EXPECT_FALSE(holder.reloadDataFile(folder.file(L"missing.tvn_eisu"), 1));
    EXPECT_NE(std::wstring::npos, takeLogText(*log).find(L"…読込に失敗しました。 "));
    EXPECT_EQ(2u, holder.cache.layoutTables[2].entries.size());

    // A file with a bad line is refused as a whole.
    EXPECT_FALSE(holder.reloadDataFile(folder.file(L"broken.tvn_eisu"), 1));
    EXPECT_EQ(keyCodeOf('b', 0), outputOf(holder.cache.layoutTables[2], keyCodeOf('a', 0)));
    EXPECT_EQ(0, outputOf(holder.cache.layoutTables[2], keyCodeOf('q', 0)));

    // A folder is not a definition file either.
    EXPECT_FALSE(holder.reloadDataFile(folder.path(), 1));
    EXPECT_EQ(2u, holder.cache.layoutTables[2].entries.size());
}

TEST_F(dataFilesTest, LoadingAllFilesStoresWhatTheReaderBuiltEvenWithErrors) {
    EXPECT_FALSE(holder.loadLayoutFile(folder.file(L"broken.tvn_eisu"), 2));
    EXPECT_EQ(keyCodeOf('w', 0), outputOf(holder.cache.layoutTables[2], keyCodeOf('q', 0)));
    // A missing file leaves the table map alone.
    EXPECT_FALSE(holder.loadLayoutFile(folder.file(L"missing.tvn_eisu"), 2));
    EXPECT_EQ(1u, holder.cache.layoutTables.count(2));
}

TEST_F(dataFilesTest, RelativePathsStartAtTheDataFolderAndSlotsOutsideTheRangeFail) {
    EXPECT_TRUE(holder.reloadDataFile(L"good.tvn_eisu", 3));
    EXPECT_EQ(1u, holder.cache.layoutTables.count(8));
    EXPECT_FALSE(holder.reloadDataFile(L"good.tvn_eisu", 8));
    EXPECT_FALSE(holder.reloadDataFile(L"good.tvn_eisu", -1));

    EXPECT_TRUE(holder.reloadDataFile(L"good.tvn_eisu", 0));
    EXPECT_EQ(1u, holder.cache.layoutTables.count(1));
}

TEST_F(dataFilesTest, SettingsFileRoundTripLoadsTheDefinitionFilesAndStartsTheAgent) {
    holder.setInt("DriverType", 0);
    holder.setString("VkConvertA", L"good.tvn_eisu");
    std::wstring settingsPath = folder.file(L"default.ini");
    ASSERT_TRUE(holder.saveFile(settingsPath));
    EXPECT_TRUE(holder.settingsFilePath.empty());  // saving never changes the remembered path

    settingsHolder loaded(log, &link, testVersion(), getEmptyHandler(log, nullptr));
    dataBaseFolder.clear();
    takeLogText(*log);
    ASSERT_TRUE(loaded.loadSettingsFile(settingsPath, folder.path()));
    EXPECT_EQ(folder.path(), dataBaseFolder);
    EXPECT_EQ(settingsPath, loaded.settingsFilePath);
    EXPECT_EQ(keyCodeOf('b', 0), outputOf(loaded.cache.layoutTables[2], keyCodeOf('a', 0)));
    EXPECT_EQ(L"1.1C", loaded.currentAgent->id());
    EXPECT_FALSE(link.requestsOf(fromDll::setLockSync).empty());
    std::wstring logged = takeLogText(*log);
    EXPECT_NE(std::wstring::npos, logged.find(L"設定ファイル読込 [ " + settingsPath + L" ]"));
    EXPECT_NE(std::wstring::npos, logged.find(L"入力代行部の変更 : quiet"));

    // Saving with no path writes where the settings came from.
    loaded.setInt("AcceptTimer", 77);
    EXPECT_TRUE(loaded.saveFile(L""));
    settingsHolder again(log, &link, testVersion(), getEmptyHandler(log, nullptr));
    ASSERT_TRUE(again.loadSettingsFile(settingsPath, L""));
    EXPECT_EQ(77, again.getInt("AcceptTimer"));
    again.stopInputHandler();
    loaded.stopInputHandler();
}

TEST_F(dataFilesTest, RefusedSettingsFileChangesNothingButTheDataFolder) {
    std::wstring settingsPath = folder.file(L"other.ini");
    testTempFolder::writeBytes(settingsPath, "Title=Other\r\nVkConvertA=good.tvn_eisu\r\n");
    dataBaseFolder = L"C:\\before";
    EXPECT_FALSE(holder.loadSettingsFile(settingsPath, folder.path()));
    EXPECT_EQ(folder.path(), dataBaseFolder);
    EXPECT_TRUE(holder.cache.layoutTables.empty());
    EXPECT_TRUE(holder.settingsFilePath.empty());
    EXPECT_EQ(L"none", holder.currentAgent->id());
    EXPECT_NE(std::wstring::npos, takeLogText(*log).find(L"設定ファイル読込 [ "));
}

TEST_F(dataFilesTest, SavingWithoutAPathFailsAndWritesNothing) {
    std::wstring before = testTempFolder::listing(folder.path());
    EXPECT_FALSE(holder.saveFile(L""));
    EXPECT_FALSE(holder.saveFile(folder.file(L"no\\such\\folder.ini")));
    EXPECT_EQ(before, testTempFolder::listing(folder.path()));
}

TEST_F(dataFilesTest, CopyMakesAnEditableCopyAndNothingFromAnUnreadableSource) {
    std::wstring target = folder.file(L"copy.tvn_eisu");
    EXPECT_FALSE(holder.copyDataFile(folder.file(L"missing.tvn_eisu"), target, false));
    EXPECT_FALSE(testTempFolder::exists(target));
    EXPECT_NE(std::wstring::npos, takeLogText(*log).find(target + L" のデータ生成中に失敗しました。"));

    ASSERT_TRUE(holder.copyDataFile(folder.file(L"good.tvn_eisu"), target, false));
    std::string copied = testTempFolder::readBytes(target);
    EXPECT_EQ(0u, copied.find("DraftData=1"));
    EXPECT_NE(std::string::npos, copied.find("a\tb"));

    // The copy loads, and is recognised as editable in place.
    holder.cache.layoutTables.clear();
    ASSERT_TRUE(holder.reloadDataFile(target, 1));
    auto agent = std::make_shared<quietAgent>(&link, log, &holder);
    EXPECT_TRUE(agent->isDraftData(1));

    // A failed write reports it.
    EXPECT_FALSE(holder.copyDataFile(folder.file(L"good.tvn_eisu"), folder.file(L"no\\such\\x.tvn_eisu"), false));
    EXPECT_NE(std::wstring::npos, takeLogText(*log).find(L" の書き込みに失敗しました。"));
}

}  // namespace
