// End to end: physical keys typed with xdotool are swallowed by the hook library's keyboard hook
// in the focused window's thread, taken by the classic agent from the library, converted through
// a definition file and typed back through the library's injection.
#include <gtest/gtest.h>

#include <algorithm>

#include "agentTestSupport.h"
#include "core/agents/agents.h"
#include "core/link/dllLink.h"
#include "core/settings/settingsHolder.h"
#include "hooklib/protocol.h"
#include "liveDesktop.h"
#include "testTempFolder.h"

namespace {

// Alphabet layout: s types t.
const char alphabetLayout[] = "visible=1\r\ns\tt\r\n";

bool contains(const std::vector<unsigned>& codes, unsigned code)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

class classicLocalLiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(xdotoolAvailable());
        testTempFolder::writeBytes(folder.file(L"eisu.tvn_eisu"), alphabetLayout);
        settingsHolder writer(log, &link, testVersion(), getEmptyHandler(log, nullptr));
        writer.setAllToDefault();
        writer.setInt("DriverType", 0);
        writer.setString("VkConvertA", L"eisu.tvn_eisu");
        for (const char* unused : {"VkConvertK", "VkConvertC", "VkConvertN", "ConvertVk", "ConvertKVk",
                                   "KeyDependsOnMachine", "AlwaysReplaceFile"})
            writer.setString(unused, L"");
        ASSERT_TRUE(writer.saveFile(folder.file(L"live.ini")));

        link.sendRequest(fromDll::startHooks, 0, 0);
        ASSERT_TRUE(holder.loadSettingsFile(folder.file(L"live.ini"), folder.path()));
        ASSERT_EQ(L"1.1C", holder.currentAgent->id());
        ASSERT_TRUE(window.focus());
        window.clear();
    }

    void TearDown() override
    {
        holder.stopInputHandler();
        link.sendRequest(fromDll::stopHooks, 0, 0);
        pumpMessages(50);
    }

    void type(const std::wstring& arguments, size_t expectedRecords)
    {
        ASSERT_EQ(0, runXdotool(arguments));
        pumpUntil([&] { return window.records().size() >= expectedRecords; }, 3000);
        pumpMessages(200);
    }

    testTempFolder folder;
    dllLink link{TVN_BIN_DIR};
    std::shared_ptr<omsgstream> log = makeTestLog();
    settingsHolder holder{log, &link, testVersion(), getEmptyHandler(log, nullptr)};
    liveTargetWindow window;
};

TEST_F(classicLocalLiveTest, remappedKeyIsTypedBackConvertedAndOtherKeysPass)
{
    type(L"key --delay 60 s", 2);
    EXPECT_TRUE(contains(window.pressedScanCodes(), 0x14)) << "t expected";
    EXPECT_FALSE(contains(window.pressedScanCodes(), 0x1F)) << "s must not pass";
    EXPECT_TRUE(contains(window.releasedScanCodes(), 0x14));

    window.clear();
    type(L"key --delay 60 z", 2);
    EXPECT_TRUE(contains(window.pressedScanCodes(), 0x2C));
    EXPECT_TRUE(contains(window.releasedScanCodes(), 0x2C));
}

}  // namespace
