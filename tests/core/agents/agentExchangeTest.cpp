// The settings sheet keeps a snapshot copy of the holder that shares its agent, and exchanges
// agents under it: DriverType changes, Apply (a new snapshot) and Cancel (the snapshot assigned
// back). Whatever the sequence, exactly one agent converts each key, and an agent that is no
// longer live is stopped: its keys released, its thread ended. The classic agent runs over a
// fake link, the driver agent over the stand-in device (the hook agent needs the desktop).
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "agentTestSupport.h"
#include "core/agents/agents.h"
#include "core/agents/classicLocal.h"
#include "core/agents/driverLocal.h"
#include "core/files/layoutReader.h"
#include "core/settings/settingsHolder.h"
#include "fakeKeyboardDevice.h"

namespace {

// The driver agent is a single object of the process, built on its first choice over the
// device of that test: one test of the driver's road per program.
fakeKeyboardDevice* g_device = nullptr;

inputHandler* buildStandInDriver(dllLinkInterface* link, inputHandler::logStream log, settingsHolder* holder) {
    auto* agent = new driver_local(link, std::move(log), holder, standInDeviceNames(g_device->path()),
                                   standInDeviceOperations());
    agent->setScancodeMap(scancodeMap());
    return agent;
}

class agentExchangeTest : public ::testing::Test {
protected:
    agentExchangeTest() : log(makeTestLog()), live(log, &link, testVersion(), getEmptyHandler(log, nullptr)) {
        g_device = &device;
        agentFactory().driver = &buildStandInDriver;
        live.setAllToDefault();
        layoutReader reader(2);  // the alphabet layout: q types w
        std::wistringstream text(L"visible=1\r\nq\tw\r\n");
        scopedLock guard(tableLock());
        live.cache.layoutTables[2] = readLayout(reader, text);
    }
    ~agentExchangeTest() override {
        live.stopInputHandler();
        agentFactory() = m_registered;
    }

    void choose(int driverType, settingsHolder& previous) {
        live.setInt("DriverType", driverType);
        live.changeInputHandler(previous);
    }
    size_t injectedAfter(size_t count) {
        for (DWORD start = GetTickCount(); link.requestsOf(fromDll::injectKey).size() < count && GetTickCount() - start < 3000;)
            Sleep(2);
        Sleep(30);
        return link.requestsOf(fromDll::injectKey).size();
    }
    // Types q on the classic agent's road; true when w came out exactly once.
    bool typeOnClassic() {
        const size_t before = link.requestsOf(fromDll::injectKey).size();
        link.push(0x10, 0);
        link.push(0x10, 0x8000);
        if (injectedAfter(before + 2) != before + 2) return false;
        const auto all = link.requestsOf(fromDll::injectKey);
        return all[before].w == 0x11 && all[before + 1].w == 0x11;
    }
    // Types q on the driver's road; true when w came out exactly once.
    bool typeOnDriver() {
        const size_t before = device.delivered().size();
        if (!device.sendKey(0x10, 0) || !device.sendKey(0x10, recordKeyBreak)) return false;
        device.waitForDelivered(before + 2, 3000);
        Sleep(30);
        const auto all = device.delivered();
        return all.size() == before + 2 && all[before] == makeRecord(0x11, 0) &&
               all[before + 1] == makeRecord(0x11, recordKeyBreak);
    }
    classic_local* classic() { return dynamic_cast<classic_local*>(live.currentAgent.get()); }

    inputHandlerFactory m_registered = agentFactory();
    fakeKeyboardDevice device;
    keyQueueLink link;
    std::shared_ptr<omsgstream> log;
    settingsHolder live;
};

TEST_F(agentExchangeTest, EachKeyIsConvertedOnceAndALeftAgentIsStoppedWhateverTheSheetDoes) {
    choose(0, live);
    auto* first = classic();
    ASSERT_NE(nullptr, first);
    EXPECT_TRUE(typeOnClassic());

    // The sheet opens; q is held when DriverType becomes 1. The classic agent is stopped at once:
    // w comes up, its thread ends, and the keys of its road are no longer taken.
    auto snapshot = std::make_unique<settingsHolder>(live);
    link.push(0x10, 0);
    ASSERT_EQ(3u, injectedAfter(3));
    choose(1, *snapshot);
    ASSERT_EQ(L"vexa", live.currentAgent->id());
    // w's release goes through the library's queue, behind whatever waits there.
    ASSERT_EQ(4u, link.requestsOf(fromDll::injectKey).size());
    EXPECT_EQ(0x11u, link.requestsOf(fromDll::injectKey).back().w);
    EXPECT_EQ(KEYEVENTF_KEYUP, link.requestsOf(fromDll::injectKey).back().l);
    EXPECT_FALSE(first->workerRunning());
    EXPECT_EQ(0, link.requestsOf(fromDll::setKeyboardHook).back().w);
    EXPECT_TRUE(typeOnDriver());
    link.push(0x10, 0x8000);  // q's release: nobody takes it, it passes as it is
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0x10, 0x8000}}), link.passedOn());

    // DriverType 7: a new classic agent; the driver's reader ends.
    auto* driver = dynamic_cast<driver_local*>(live.currentAgent.get());
    choose(7, *snapshot);
    auto* second = classic();
    ASSERT_NE(nullptr, second);
    EXPECT_FALSE(driver->threadRunning());
    EXPECT_TRUE(typeOnClassic());

    // Apply renews the snapshot, which now shares the second classic agent; then back to 1.
    snapshot = std::make_unique<settingsHolder>(live);
    choose(1, *snapshot);
    EXPECT_FALSE(second->workerRunning());
    EXPECT_TRUE(typeOnDriver());

    // Cancel: the snapshot's DriverType 7 comes back and builds a third classic agent. The second
    // stays stopped in the snapshot, and its end with the sheet leaves the live agent's hook alone.
    live = *snapshot;
    live.changeInputHandler(*snapshot);
    auto* third = classic();
    ASSERT_NE(nullptr, third);
    EXPECT_NE(second, third);
    EXPECT_FALSE(second->workerRunning());
    EXPECT_FALSE(driver->threadRunning());
    EXPECT_TRUE(typeOnClassic());
    snapshot.reset();
    EXPECT_EQ(1u, link.requestsOf(fromDll::setKeyboardHook).back().w);
    EXPECT_TRUE(typeOnClassic());
    EXPECT_TRUE(device.delivered().size() == 4u);
}

}  // namespace
