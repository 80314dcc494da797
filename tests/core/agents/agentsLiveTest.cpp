// Switching input agents. The hook agent installs a global keyboard hook when it starts, so these
// run alone on the desktop.
#include <gtest/gtest.h>

#include "agentTestSupport.h"
#include "core/agents/agents.h"
#include "core/agents/llhookLocal.h"
#include "core/settings/settingsHolder.h"
#include "liveDesktop.h"

namespace {

struct boxRecord {
    int count = 0;
    std::wstring text, caption;
    UINT type = 0;
};
boxRecord& boxes() {
    static boxRecord r;
    return r;
}
int recordBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
    boxes().count++;
    boxes().text = text;
    boxes().caption = caption;
    boxes().type = type;
    return IDOK;
}

// Stands in for the classic agent, which is built anew on every choice.
class classicStandIn : public inputHandler {
public:
    using inputHandler::inputHandler;
    bool pause() override {
        ++pauses;
        return true;
    }
    bool stop() override {
        ++stops;
        return true;
    }
    std::wstring displayName() override { return L"版1.0/1.1号互換入力代行"; }
    bool setFlag(unsigned char value) override { return value != 0; }
    std::wstring id() override { return L"1.1C"; }
    bool outputKey(const keyOutputEvent&) override { return true; }
    bool resume() override { return true; }
    int pauses = 0;
    int stops = 0;
};
inputHandler* buildClassic(dllLinkInterface* link, inputHandler::logStream log, settingsHolder* holder) {
    return new classicStandIn(link, std::move(log), holder);
}


class agentsTest : public ::testing::Test {
protected:
    agentsTest() : log(makeTestLog()), holder(log, &link, testVersion(), getEmptyHandler(log, nullptr)) {
        holder.setAllToDefault();
        holder.readCache();
        boxes() = boxRecord();
        agentFactory().messageBox = recordBox;
        agentFactory().classic = nullptr;
        agentFactory().driver = nullptr;
        takeLogText(*log);
    }
    ~agentsTest() override {
        holder.stopInputHandler();
        agentFactory() = m_registered;  // the builders the program registered
    }
    inputHandlerFactory m_registered = agentFactory();
    agentFakeLink link;
    std::shared_ptr<omsgstream> log;
    settingsHolder holder;
};

TEST_F(agentsTest, HookAgentIsChosenOnceAndLaterOnlyResumed) {
    EXPECT_EQ(L"none", holder.currentAgent->id());
    holder.setInt("DriverType", 2);
    EXPECT_TRUE(holder.changeInputHandler(holder));
    EXPECT_EQ(L"LLHk", holder.currentAgent->id());
    EXPECT_EQ(2, lastAppliedAgentType());
    std::wstring logged = takeLogText(*log);
    EXPECT_NE(std::wstring::npos, logged.find(L"入力代行部の変更 : Windows2000/XP専用入力代行"));
    auto* hook = dynamic_cast<llhook_local*>(holder.currentAgent.get());
    ASSERT_NE(nullptr, hook);
    EXPECT_FALSE(hook->isIdle());

    EXPECT_FALSE(holder.changeInputHandler(holder));
    logged = takeLogText(*log);
    EXPECT_EQ(std::wstring::npos, logged.find(L"入力代行部の変更"));
    EXPECT_EQ(std::wstring::npos, logged.find(L"pause()"));
    EXPECT_NE(std::wstring::npos, logged.find(L"スレッドはすでに動作しています。"));
}

TEST_F(agentsTest, MissingDriverAgentShowsTheBoxThroughTheSeamAndFallsBackToTheHook) {
    holder.setInt("DriverType", 1);
    EXPECT_TRUE(holder.changeInputHandler(holder));
    EXPECT_EQ(1, boxes().count);
    EXPECT_NE(std::wstring::npos,
              boxes().text.find(L"\n\n『Vexa』が設置済みであることを検出できませんでした(あるいは『しませんでした』)。"));
    EXPECT_EQ(L"Orvessa/Tavolin", boxes().caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes().type);
    EXPECT_EQ(L"LLHk", holder.currentAgent->id());
    EXPECT_EQ(2, lastAppliedAgentType());

    // 1 is not the stored 2: the next switch tries the driver again, and shows the box again.
    EXPECT_FALSE(holder.changeInputHandler(holder));
    EXPECT_EQ(2, boxes().count);
    EXPECT_EQ(L"LLHk", holder.currentAgent->id());
}

TEST_F(agentsTest, ClassicAgentIsBuiltAnewOnEveryChoice) {
    agentFactory().classic = buildClassic;
    holder.setInt("DriverType", 7);
    EXPECT_TRUE(holder.changeInputHandler(holder));
    EXPECT_EQ(L"1.1C", holder.currentAgent->id());
    EXPECT_EQ(0, lastAppliedAgentType());
    std::weak_ptr<inputHandler> first = holder.currentAgent;

    // 7 is not the stored 0, so the full switch runs again and a new agent replaces the first.
    EXPECT_TRUE(holder.changeInputHandler(holder));
    EXPECT_EQ(L"1.1C", holder.currentAgent->id());
    EXPECT_TRUE(first.expired());
}

TEST_F(agentsTest, ClassicAgentThatCannotBeBuiltLeavesTheKeyboardWithTheHook) {
    holder.setInt("DriverType", 0);
    EXPECT_TRUE(holder.changeInputHandler(holder));
    EXPECT_EQ(L"LLHk", holder.currentAgent->id());
    EXPECT_EQ(2, lastAppliedAgentType());
    EXPECT_EQ(0, boxes().count);
}

TEST_F(agentsTest, ThePreviousHoldersAgentIsStoppedWhenItIsNotTheNewOne) {
    agentFactory().classic = buildClassic;
    settingsHolder previous(log, &link, testVersion(), getEmptyHandler(log, nullptr));
    previous.currentAgent = std::make_shared<classicStandIn>(&link, log, &previous);
    auto* old = static_cast<classicStandIn*>(previous.currentAgent.get());
    holder.setInt("DriverType", 2);
    holder.changeInputHandler(previous);
    // Stopped, not only paused: a snapshot that still refers to it must not keep it half alive.
    EXPECT_EQ(1, old->stops);
    EXPECT_EQ(0, old->pauses);
}

TEST_F(agentsTest, StoppingTheAgentBeforeTheHolderGoesLeavesNothingRunning) {
    agentPointer hook;
    {
        settingsHolder shortLived(log, &link, testVersion(), getEmptyHandler(log, nullptr));
        shortLived.setAllToDefault();
        shortLived.setInt("DriverType", 2);
        shortLived.changeInputHandler(shortLived);
        hook = shortLived.currentAgent;
        ASSERT_EQ(L"LLHk", hook->id());
        shortLived.stopInputHandler();
        EXPECT_EQ(L"none", shortLived.currentAgent->id());
        EXPECT_EQ(-1, lastAppliedAgentType());
    }
    auto* agent = static_cast<llhook_local*>(hook.get());
    EXPECT_TRUE(agent->isIdle());
    EXPECT_FALSE(agent->hookInstalled());  // stopped, not only paused: the hook is released
    KBDLLHOOKSTRUCT key = {};
    key.scanCode = 0x1E;
    key.time = GetTickCount();
    EXPECT_NE(-1, agent->hookKey(WM_KEYDOWN, key));  // passed on: no worker reads a dead holder

    // A later holder gets the same agent, bound to itself, and starts it again.
    holder.setInt("DriverType", 2);
    EXPECT_TRUE(holder.changeInputHandler(holder));
    EXPECT_EQ(hook, holder.currentAgent);
    EXPECT_EQ(&holder, hook->holder());
    EXPECT_FALSE(agent->isIdle());
    EXPECT_TRUE(agent->hookInstalled());
}

TEST(emptyHandler, PassesNothingAndNamesItself) {
    emptyHandler empty(nullptr, makeTestLog(), nullptr);
    EXPECT_EQ(L"none", empty.id());
    EXPECT_EQ(L"(入力代行部が未接続です)", empty.displayName());
    EXPECT_TRUE(empty.pause());
    EXPECT_TRUE(empty.resume());
    EXPECT_TRUE(empty.outputKey(keyOutputEvent()));
}

}  // namespace
