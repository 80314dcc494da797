// The ANSI build's own behaviour: CP932 paths and texts, where the second byte of a double-byte
// character may equal a backslash, a vertical bar or another ASCII sign.
#include "core/agents/agentTestSupport.h"
#include "core/agents/agents.h"
#include "core/agents/driverLocal.h"
#include "core/platform/errors.h"
#include "core/platform/omsgstream.h"
#include "core/platform/platform.h"
#include "core/platform/registry.h"
#include "core/settings/settingsHolder.h"
#include "core/files/textFile.h"
#include "testTempFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

static_assert(sizeof(TCHAR) == 1, "this test program is built for the ANSI build");

namespace {
// "ソ" is 83 5C and "ポ" is 83 7C in CP932: their second bytes are "\" and "|".
const std::string so = "\x83\x5C";
const std::string po = "\x83\x7C";
}  // namespace

TEST(ansiPaths, trailBytesAreNeverBackslashes)
{
    EXPECT_EQ(directoryOf("C:\\" + so), "C:");
    EXPECT_EQ(directoryOf("C:\\" + so + "\\a.ini"), "C:\\" + so);
    EXPECT_EQ(directoryOf(so), "");
    EXPECT_EQ(joinPath("C:\\" + so, "a.ini"), "C:\\" + so + "\\a.ini");
    EXPECT_EQ(joinPath("C:\\" + so + "\\", "a.ini"), "C:\\" + so + "\\a.ini");
}

TEST(ansiPaths, trailBytesAreNotEscaped)
{
    EXPECT_EQ(escapeForFileName(so + po + "|"), so + po + "%124");
}

TEST(ansiBuild, namesAreNotSessionQualified)
{
    EXPECT_EQ(sessionQualifiedName("Tavolin"), "Tavolin");
}

TEST(ansiBuild, textFilesByCp932Path)
{
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string folder = std::string(temp) + "tvnAnsi" + std::to_string(GetCurrentProcessId()) + so;
    ASSERT_TRUE(createDirectoryRecursive(folder + "\\" + so, false));
    const std::string path = folder + "\\" + so + "\\" + so + ".txt";
    {
        textFileWriter out(path);
        out << L"かな=\x00A5";
        ASSERT_TRUE(out.save().good());
    }
    textFileReader in(path);
    std::wstring line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, L"かな=\x00A5");
    DeleteFileA(path.c_str());
    RemoveDirectoryA((folder + "\\" + so).c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST(ansiBuild, registryThroughTheNarrowCalls)
{
    const std::wstring key = L"Software\\TavolinAnsiTest" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(writeRegistryDword(HKEY_CURRENT_USER, key, L"autoStart", 7));
    DWORD value = 0;
    EXPECT_TRUE(readRegistryDword(HKEY_CURRENT_USER, key, L"autoStart", value, 0));
    EXPECT_EQ(value, 7u);
    RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
}

TEST(ansiBuild, logStreamIsNarrow)
{
    omsgstream log(logTextMessage, nullptr);
    log.lock(0);
    log << "\x83\x4C\x81\x5B" << 1 << std::endl;  // "キー1"
    log.unlock();
    std::string text = log.takeText();
    log.clearText();
    EXPECT_EQ(text, "\x83\x4C\x81\x5B" "1\n");
    MSG msg;
    while (PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE)) {
    }
}

// ---------------------------------------------------------------- input agents

namespace {

class standInAgent : public inputHandler {
public:
    standInAgent(dllLinkInterface* link, logStream log, settingsHolder* holder, const wchar_t* id)
        : inputHandler(link, std::move(log), holder), m_id(id) {}
    bool pause() override { return true; }
    std::wstring displayName() override { return m_id; }
    bool setFlag(unsigned char value) override { return value != 0; }
    std::wstring id() override { return m_id; }
    bool outputKey(const keyOutputEvent&) override { return true; }
    bool resume() override { return true; }

private:
    std::wstring m_id;
};

bool g_driverOpens = false;
inputHandler* buildStandInDriver(dllLinkInterface* link, inputHandler::logStream log, settingsHolder* holder)
{
    if (!g_driverOpens) throw ErrorMessage();
    return new standInAgent(link, std::move(log), holder, L"vexa");
}
inputHandler* buildStandInClassic(dllLinkInterface* link, inputHandler::logStream log, settingsHolder* holder)
{
    return new standInAgent(link, std::move(log), holder, L"1.1C");
}
int g_boxes = 0;
int countBox(HWND, const wchar_t*, const wchar_t*, UINT)
{
    ++g_boxes;
    return IDOK;
}

class ansiAgentsTest : public ::testing::Test {
protected:
    ansiAgentsTest() : log(makeTestLog()), holder(log, &link, testVersion(), getEmptyHandler(log, nullptr))
    {
        holder.setAllToDefault();
        holder.readCache();
        agentFactory().driver = buildStandInDriver;
        agentFactory().classic = buildStandInClassic;
        agentFactory().messageBox = countBox;
        g_boxes = 0;
    }
    ~ansiAgentsTest() override
    {
        holder.stopInputHandler();
        agentFactory() = m_registered;
    }
    inputHandlerFactory m_registered = agentFactory();
    agentFakeLink link;
    std::shared_ptr<omsgstream> log;
    settingsHolder holder;
};

}  // namespace

// This build has no low-level hook agent: every value but 1 takes the classic agent, and so does
// a driver that can't be opened.
TEST_F(ansiAgentsTest, everyValueButOneChoosesTheClassicAgent)
{
    struct row {
        int driverType;
        bool driverOpens;
        const wchar_t* agent;
        int stored;
        int boxes;
    };
    // The failing driver comes first: once built, the driver agent is kept for the process.
    const row table[] = {
        {1, false, L"1.1C", 0, 1}, {2, true, L"1.1C", 0, 0}, {0, true, L"1.1C", 0, 0},
        {3, true, L"1.1C", 0, 0},  {-1, true, L"1.1C", 0, 0}, {1, true, L"vexa", 1, 0},
    };
    for (const row& r : table) {
        g_driverOpens = r.driverOpens;
        g_boxes = 0;
        holder.setInt("DriverType", r.driverType);
        holder.changeInputHandler(holder);
        EXPECT_EQ(r.agent, holder.currentAgent->id()) << r.driverType;
        EXPECT_EQ(r.stored, lastAppliedAgentType()) << r.driverType;
        EXPECT_EQ(r.boxes, g_boxes) << r.driverType;
    }
}

TEST_F(ansiAgentsTest, settingsStayLoadedWhenNoAgentCanBeBuilt)
{
    testTempFolder folder;
    const std::wstring settingsPath = folder.file(L"\x30BD.ini");  // ソ: its CP932 trail byte is "\"
    holder.setInt("DriverType", 2);
    holder.setInt("AcceptTimer", 77);
    ASSERT_TRUE(holder.saveFile(settingsPath));

    agentFactory().classic = nullptr;
    settingsHolder loaded(log, &link, testVersion(), getEmptyHandler(log, nullptr));
    takeLogText(*log);
    ASSERT_TRUE(loaded.loadSettingsFile(settingsPath, folder.path()));
    EXPECT_EQ(77, loaded.getInt("AcceptTimer"));
    EXPECT_EQ(settingsPath, loaded.settingsFilePath);
    EXPECT_EQ(L"none", loaded.currentAgent->id());
    const std::wstring logged = takeLogText(*log);
    EXPECT_NE(std::wstring::npos, logged.find(L"版1.0/1.1号互換入力代行はこの版には組み込まれていません。")) << logged;

    // Not remembered as applied: the next switch tries again, and succeeds once it can.
    EXPECT_EQ(-1, lastAppliedAgentType());
    agentFactory().classic = buildStandInClassic;
    loaded.changeInputHandler(loaded);
    EXPECT_EQ(L"1.1C", loaded.currentAgent->id());
    loaded.stopInputHandler();
}

// ---------------------------------------------------------------- the driver's virtual device

namespace {

// The virtual device through the control calls: code 1 reads a record (waiting a little for
// one), code 2 writes one, code 3 frees a waiting read. Writing takes a moment, as a real
// device's queue does, so that two threads emptying the agent's output would meet.
class fakeVirtualDevice {
public:
    fakeVirtualDevice() : m_arrived(CreateEvent(nullptr, FALSE, FALSE, nullptr)) {}
    ~fakeVirtualDevice() { CloseHandle(m_arrived); }
    void send(const keyboardRecord& record)
    {
        {
            scopedLock guard(m_lock);
            m_incoming.push_back(record);
        }
        SetEvent(m_arrived);
    }
    std::vector<keyboardRecord> written()
    {
        scopedLock guard(m_lock);
        return m_written;
    }
    BOOL control(DWORD code, LPVOID in, LPVOID out, DWORD outSize, LPDWORD returned)
    {
        *returned = 0;
        if (code == 1) {
            WaitForSingleObject(m_arrived, 20);
            scopedLock guard(m_lock);
            if (!m_incoming.empty() && outSize >= sizeof(keyboardRecord)) {
                std::memcpy(out, &m_incoming.front(), sizeof(keyboardRecord));
                m_incoming.erase(m_incoming.begin());
                *returned = sizeof(keyboardRecord);
                if (!m_incoming.empty()) SetEvent(m_arrived);
            }
            return TRUE;
        }
        if (code == 2) {
            keyboardRecord record;
            std::memcpy(&record, in, sizeof record);
            Sleep(2);
            scopedLock guard(m_lock);
            m_written.push_back(record);
            return TRUE;
        }
        if (code == 3) {
            SetEvent(m_arrived);
            return TRUE;
        }
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }

private:
    HANDLE m_arrived;
    sectionLock m_lock;
    std::vector<keyboardRecord> m_incoming;
    std::vector<keyboardRecord> m_written;
};

fakeVirtualDevice* g_device = nullptr;

BOOL WINAPI virtualDeviceControl(HANDLE, DWORD code, LPVOID in, DWORD, LPVOID out, DWORD outSize, LPDWORD returned,
                                 LPOVERLAPPED)
{
    return g_device->control(code, in, out, outSize, returned);
}

keyboardRecord keyRecord(std::uint16_t makeCode, bool down)
{
    keyboardRecord record = {};
    record.MakeCode = makeCode;
    record.Flags = down ? 0 : recordKeyBreak;
    return record;
}

}  // namespace

TEST(ansiDriverAgent, everyKeyGoesOutOnceWhileTheIdleThreadRuns)
{
    fakeVirtualDevice device;
    g_device = &device;
    // The device opens as a file that does not exist yet and goes when closed, as the virtual
    // device is opened.
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string unique = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    deviceNames names;
    names.devicePath = std::string(temp) + "tvnVirtualDevice" + unique;
    names.mutexName = "tvnAnsiDriverTest" + unique;
    deviceOperations operations = systemDeviceOperations();
    operations.deviceIoControl = &virtualDeviceControl;

    auto log = makeTestLog();
    agentFakeLink link;
    settingsHolder holder(log, &link, testVersion(), getEmptyHandler(log, nullptr));
    holder.setAllToDefault();
    holder.readCache();
    {
        driver_local agent(&link, log, &holder, names, operations);
        ASSERT_TRUE(agent.resume());
        std::vector<keyboardRecord> sent;
        const std::uint16_t keys[] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19};
        for (int round = 0; round < 4; ++round) {
            for (std::uint16_t key : keys) {
                sent.push_back(keyRecord(key, true));
                sent.push_back(keyRecord(key, false));
            }
        }
        // An IME action holds output back for a moment, so that a backlog builds up. The backlog
        // goes out while no key comes (the idle work does it), and more keys come meanwhile.
        link.mustWait = true;
        const size_t backlog = sent.size() * 2 / 3;
        for (size_t i = 0; i < backlog; ++i) device.send(sent[i]);
        DWORD start = GetTickCount();
        while (agent.queuedOutput() < backlog && GetTickCount() - start < 2000) Sleep(1);
        link.mustWait = false;
        Sleep(10);
        for (size_t i = backlog; i < sent.size(); ++i) {
            device.send(sent[i]);
            Sleep(1);
        }
        start = GetTickCount();
        while (device.written().size() < sent.size() && GetTickCount() - start < 5000) Sleep(5);
        Sleep(50);  // a key sent twice would come now
        const std::vector<keyboardRecord> written = device.written();
        ASSERT_EQ(sent.size(), written.size());
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].MakeCode, written[i].MakeCode) << i;
            EXPECT_EQ(sent[i].Flags, written[i].Flags) << i;
        }
        agent.stop();
    }
    g_device = nullptr;
}
