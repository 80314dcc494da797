// Choosing the driver agent on a machine without the outside driver. The fallback agent installs a
// global keyboard hook, so this runs alone on the desktop.
#include <gtest/gtest.h>

#include "agentTestSupport.h"
#include "core/agents/agents.h"
#include "core/settings/settingsHolder.h"

namespace {

struct shownBox {
    int count = 0;
    std::wstring text, caption;
    UINT type = 0;
};
shownBox& shown()
{
    static shownBox box;
    return box;
}
int recordBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type)
{
    shown().count++;
    shown().text = text;
    shown().caption = caption;
    shown().type = type;
    return IDOK;
}

TEST(DriverFallbackLive, WithoutDeviceAndServiceTheBoxNamesOpenServiceAndTheHookAgentTakesOver)
{
    agentFakeLink link;
    std::shared_ptr<omsgstream> log = makeTestLog();
    settingsHolder holder(log, &link, testVersion(), getEmptyHandler(log, nullptr));
    holder.setAllToDefault();
    holder.readCache();
    // The real driver agent, real device path and service name; only the box is caught.
    ASSERT_NE(nullptr, agentFactory().driver);
    ASSERT_NE(nullptr, agentFactory().classic);
    agentFactory().messageBox = &recordBox;

    holder.setInt("DriverType", 1);
    holder.changeInputHandler(holder);
    EXPECT_EQ(1, shown().count);
    EXPECT_EQ(L"OpenService に失敗しました。エラーコード=" + std::to_wstring(ERROR_SERVICE_DOES_NOT_EXIST) +
                  L" / 2 / 2\n\n『Vexa』が設置済みであることを検出できませんでした(あるいは『しませんでした』)。",
              shown().text);
    EXPECT_EQ(L"Orvessa/Tavolin", shown().caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), shown().type);
    EXPECT_EQ(L"LLHk", holder.currentAgent->id());
    EXPECT_EQ(2, lastAppliedAgentType());
    EXPECT_NE(std::wstring::npos, takeLogText(*log).find(L"入力代行部の変更 : Windows2000/XP専用入力代行"));

    // The failed build left nothing behind: the next choice tries again and fails the same way.
    holder.changeInputHandler(holder);
    EXPECT_EQ(2, shown().count);
    EXPECT_EQ(L"LLHk", holder.currentAgent->id());

    holder.stopInputHandler();
    agentFactory().messageBox = nullptr;
}

}  // namespace
