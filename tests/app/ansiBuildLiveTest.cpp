// Acceptance of the Windows 98/Me build: the real TavolinMe.exe with TavolinMeDll.dll, tvnSetup.exe
// and "Tavolinの撤去Me.exe" of the product folder, run in a Wine prefix where every program sees
// Windows 98, and driven from outside as a user drives them. Wine still carries out the wide calls
// that Windows 98 lacks, so this shows the programs' behaviour; the import test shows that they
// make no such call.
#include "liveDesktop.h"
#include "programWindows.h"
#include "testTempFolder.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const UINT trayNotify = 0x8065;
const int commandQuit = 3001;
const int commandJisKanaPractice = 4072;
const wchar_t sheetTitle[] = L"設定窓口/Orvessa";
const wchar_t uninstallKeyName[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\brannochTvn13";
// Keys of the keyboard display are numbered row by row: row 1 (from 15) begins with Tab, then q.
const int keyQ = 16;

bool contains(const std::wstring& text, const std::wstring& part)
{
    return text.find(part) != std::wstring::npos;
}

bool seesWindows98()
{
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && version.dwMajorVersion == 4 &&
           version.dwMinorVersion == 10;
}

std::string cp932(const std::wstring& text)
{
    std::string bytes(text.size() * 2, '\0');
    bytes.resize(WideCharToMultiByte(932, 0, text.data(), static_cast<int>(text.size()), &bytes[0],
                                     static_cast<int>(bytes.size()), nullptr, nullptr));
    return bytes;
}

// Without a desktop shell Wine shows the notification area as a stand-alone window of its X11 driver,
// each icon as a child window of it.
std::vector<HWND> trayIconWindows()
{
    std::vector<HWND> icons;
    for (HWND tray = FindWindowExW(nullptr, nullptr, L"__winex11_standalone_tray", nullptr); tray;
         tray = FindWindowExW(nullptr, tray, L"__winex11_standalone_tray", nullptr)) {
        for (HWND icon = FindWindowExW(tray, nullptr, L"__winex11_tray_icon", nullptr); icon;
             icon = FindWindowExW(tray, icon, L"__winex11_tray_icon", nullptr)) {
            if (IsWindowVisible(icon)) icons.push_back(icon);
        }
    }
    return icons;
}

// Ends the programs that a process started (the setup twin opens the new folder for the user), so
// none of them outlives the test.
void endProgramsStartedBy(DWORD parent)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != parent) continue;
        if (HANDLE child = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
            if (WaitForSingleObject(child, 1000) == WAIT_TIMEOUT) TerminateProcess(child, 0);
            CloseHandle(child);
        }
    }
    CloseHandle(snapshot);
}

// Windows of any process (the setup program's work is done by another process).
HWND waitForAnyWindow(const std::wstring& title, DWORD timeout = 30000)
{
    HWND found = nullptr;
    pumpUntil([&] {
        found = FindWindowW(L"#32770", title.c_str());
        return found && IsWindowVisible(found) && GetDlgItem(found, IDOK);
    }, timeout);
    return found;
}

std::wstring registryString(HKEY root, const std::wstring& key, const std::wstring& value)
{
    wchar_t data[1024] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    if (RegGetValueW(root, key.c_str(), value.c_str(), RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) return L"";
    return data;
}

class ansiBuildLiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(seesWindows98()) << "not in the Windows 98 prefix";
        ASSERT_TRUE(xdotoolAvailable());
        exe = productFolder() + L"\\TavolinMe.exe";
        ASSERT_TRUE(testTempFolder::exists(exe));
        SetEnvironmentVariableW(L"APPDATA", appData.path().c_str());
        setAutoStartAnswer(1);
    }

    std::wstring settingsFile() const { return appData.path() + L"\\Brannoch\\Tavolin13\\default.ini"; }

    // Starts the program and waits until it runs with its classic agent and its keyboard display
    // shown (the display takes the focus when it appears: a test types only after that).
    void start(std::unique_ptr<programProcess>& me)
    {
        me.reset(new programProcess(exe));
        ASSERT_TRUE(me->started());
        logEdit = me->waitForLogHeader();
        ASSERT_NE(logEdit, nullptr) << "no log header: the program did not start as itself";
        main = me->mainWindow();
        ASSERT_NE(main, nullptr);
        ASSERT_TRUE(pumpUntil([&] { return contains(windowText(logEdit), L"入力代行部の変更 : "); }, 20000));
        display = me->waitFor(L"#32770", L"配列表示");
        ASSERT_NE(display, nullptr);
        ASSERT_TRUE(pumpUntil([&] { return IsWindowVisible(display) != FALSE; }, 10000));
        pumpMessages(300);
    }

    std::wstring labelOfQ()
    {
        const std::vector<std::wstring> labels = keyboardDisplayLabels(display);
        return labels.size() == 56 ? labels[keyQ] : L"";
    }

    // Types with xdotool into the focused target and waits for the expected number of key presses:
    // what every case of the classic agent on the running program types through, long runs included.
    void typeInto(liveTargetWindow& target, const std::wstring& keys, size_t presses)
    {
        target.clear();
        ASSERT_TRUE(target.focus());
        ASSERT_EQ(runXdotool(keys), 0);
        pumpUntil([&] { return target.pressedScanCodes().size() >= presses; }, 5000);
        pumpMessages(300);  // a key that comes twice comes within this time
    }

    testTempFolder appData;
    std::wstring exe;
    HWND main = nullptr, logEdit = nullptr, display = nullptr;
};

}  // namespace

TEST_F(ansiBuildLiveTest, startsAsItselfWithItsLogTrayDisplayAndSheet)
{
    std::unique_ptr<programProcess> me;
    ASSERT_NO_FATAL_FAILURE(start(me));
    // On its own platform it runs itself: no hand-over to the other build.
    EXPECT_EQ(FindWindowW(L"orvessaTasktray", nullptr), main);
    const std::wstring log = windowText(logEdit);
    EXPECT_TRUE(contains(log, L"Tavolin (MBCS/Windows Me) : 1.3007")) << "log header of " << log.size() << " characters";
    EXPECT_TRUE(contains(log, L"TavolinMeDll.dll(Tavolin用DLL): 1.3007"));
    // The default agent, the low-level hook, does not exist here: the classic one takes its place.
    EXPECT_TRUE(contains(log, L"入力代行部の変更 : 版1.0/1.1号互換入力代行"));
    EXPECT_TRUE(pumpUntil([&] { return labelOfQ() == L"q"; }, 10000)) << "q shows " << labelOfQ();

    // The tray icon; a right click on it brings the menu, whose "動作記録" hides the log window.
    std::vector<HWND> icons;
    ASSERT_TRUE(pumpUntil([&] { return !(icons = trayIconWindows()).empty(); }, 10000)) << "no tray icon";
    // The windows side by side, the tray free, so the click and the picture find each.
    HWND logWindow = GetParent(logEdit);
    SetWindowPos(logWindow, nullptr, 40, 120, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
    SetWindowPos(display, nullptr, 560, 120, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
    pumpMessages(300);
    RECT r{};
    GetWindowRect(icons.back(), &r);
    ASSERT_EQ(runXdotool(L"mousemove " + std::to_wstring((r.left + r.right) / 2) + L" " +
                         std::to_wstring((r.top + r.bottom) / 2) + L" click 3"), 0);
    HWND menu = me->waitFor(L"#32768", L"", 10000);
    ASSERT_NE(menu, nullptr) << "no tray menu";
    ASSERT_TRUE(pumpUntil([&] { return IsWindowVisible(menu) != FALSE; }, 5000));
    pumpMessages(300);
    screenshot(L"ansi-desktop.png");
    ASSERT_TRUE(IsWindowVisible(logWindow));
    ASSERT_EQ(runXdotool(L"key v"), 0);
    EXPECT_TRUE(pumpUntil([&] { return !IsWindowVisible(logWindow); }, 5000)) << "the menu's command did not arrive";

    // A second start hands over to the first, which opens its settings sheet of eight pages.
    programProcess second(exe);
    EXPECT_EQ(second.waitForExit(20000), 0u);
    HWND sheet = me->waitFor(L"#32770", sheetTitle);
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return IsWindowVisible(sheet) != FALSE; }, 10000));
    HWND tabs = reinterpret_cast<HWND>(sendTo(sheet, PSM_GETTABCONTROL));
    EXPECT_EQ(sendTo(tabs, TCM_GETITEMCOUNT), 8);
    HWND page = reinterpret_cast<HWND>(sendTo(sheet, PSM_GETCURRENTPAGEHWND));
    EXPECT_NE(page, nullptr);
    pumpMessages(500);
    screenshot(L"ansi-sheet.png", sheet);

    // Quitting from the tray takes the icon away.
    PostMessageW(main, WM_COMMAND, commandQuit, 0);
    EXPECT_EQ(me->waitForExit(20000), 0u);
    EXPECT_TRUE(pumpUntil([&] { return trayIconWindows().size() < icons.size(); }, 5000));
}

TEST_F(ansiBuildLiveTest, classicAgentConvertsTypedKeysAndTheSettingsLastToTheNextStart)
{
    std::unique_ptr<programProcess> me;
    ASSERT_NO_FATAL_FAILURE(start(me));
    liveTargetWindow target;

    // The alphabet layout: every key comes once, through the library's hook and the agent.
    // Shift is held as a typist holds it, so the agent's round trip is not raced by its release.
    typeInto(target, L"keydown shift sleep 0.05 key t sleep 0.05 keyup shift type --delay 60 'avolin, ok.'", 12);
    EXPECT_EQ(target.text(), L"Tavolin, ok.");

    // The JIS kana practice mode lets the kana layout act with the IME closed: あ is the key 3,
    // い the key e, た the key q, typed by scan code.
    sendTo(main, WM_COMMAND, commandJisKanaPractice);
    ASSERT_TRUE(pumpUntil([&] { return labelOfQ() == L"た"; }, 10000)) << "q shows " << labelOfQ();
    typeInto(target, L"key --delay 80 a s q", 3);
    const std::vector<unsigned> kanaKeysOfAiTa{0x04, 0x12, 0x10};
    EXPECT_EQ(target.pressedScanCodes(), kanaKeysOfAiTa);
    EXPECT_EQ(target.releasedScanCodes(), kanaKeysOfAiTa);

    // Quitting from the tray writes the settings file in CP932: the version, the changed setting,
    // and the Japanese file names of the defaults.
    PostMessageW(main, WM_COMMAND, commandQuit, 0);
    ASSERT_EQ(me->waitForExit(20000), 0u);
    const std::string saved = testTempFolder::readBytes(settingsFile());
    EXPECT_EQ(saved.find('\0'), std::string::npos);
    EXPECT_NE(saved.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_NE(saved.find("WinTvnVersion=13007\r\n"), std::string::npos);
    EXPECT_NE(saved.find("GameSwitch=true\r\n"), std::string::npos);
    EXPECT_NE(saved.find(cp932(L"ConvertKVk=data\\かな入力化.tvn_o_kana\r\n")), std::string::npos);

    // The next start reads it back: no defaults message, and the practice mode is on at once.
    ASSERT_NO_FATAL_FAILURE(start(me));
    EXPECT_FALSE(contains(windowText(logEdit), L"初期設定値を適用します。"));
    EXPECT_TRUE(pumpUntil([&] { return labelOfQ() == L"た"; }, 10000)) << "q shows " << labelOfQ();
}

// Programs type far faster than people: the classic agent, the only one of this build, takes a
// burst at xdotool's fastest rate whole and in order, and converts the keys typed right after it.
TEST_F(ansiBuildLiveTest, classicAgentTakesAFullSpeedBurstWhole)
{
    const size_t count = 1000;
    const letterBurst burst = makeLetterBurst(count);
    const std::wstring layout = appData.path() + L"\\burst.tvn_eisu";
    testTempFolder::writeBytes(layout, burst.layout);
    const std::wstring folder = appData.path() + L"\\Brannoch\\Tavolin13";
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    testTempFolder::writeBytes(settingsFile(), "Title=Tavolin\r\nWinTvnVersion=13007\r\nVkConvertA=" + cp932(layout) + "\r\n");
    std::unique_ptr<programProcess> me;
    ASSERT_NO_FATAL_FAILURE(start(me));
    liveTargetWindow target;
    ASSERT_TRUE(target.focus());
    // The classic agent's hook holds no key down in the session: not while it runs, not after a
    // burst, and not when the program is killed in the middle of one.
    EXPECT_EQ(std::vector<int>(), keysHeldDown());

    const DWORD begin = GetTickCount();
    EXPECT_EQ(0, runXdotool(L"type --delay 0 " + burst.sent, 60000));
    const DWORD typedIn = GetTickCount() - begin;
    pumpUntil([&] { return target.text().size() >= count; }, 10000);
    pumpMessages(300);
    const std::wstring received = target.text();
    size_t same = 0;
    while (same < received.size() && same < count && received[same] == burst.expected[same]) ++same;
    std::printf("ANSI burst: %u keys sent in %lu ms, %u received, first difference at %u\n",
                static_cast<unsigned>(count), static_cast<unsigned long>(typedIn),
                static_cast<unsigned>(received.size()), static_cast<unsigned>(same));
    EXPECT_EQ(count, received.size());
    EXPECT_EQ(count, same) << "received differs from the converted burst at " << same;

    EXPECT_EQ(std::vector<int>(), keysHeldDown());

    typeInto(target, L"key --delay 80 a b c", 3);
    EXPECT_EQ(target.text(), L"bcd");

    // Killed with its hook in while a burst waits in the target's queue: what may stay down is
    // the one letter the agent had pressed for a key whose release it never saw (nothing can
    // release that for a killed program), no key of the user's and nothing the hook held back.
    target.clear();
    EXPECT_EQ(0, runXdotool(L"type --delay 0 " + burst.sent.substr(0, 300), 60000));
    pumpUntil([&] { return !target.text().empty(); }, 10000);
    me->kill();
    pumpMessages(1000);
    const std::vector<int> held = keysHeldDown();
    EXPECT_LE(held.size(), 1u);
    for (int vk : held) EXPECT_TRUE(vk >= 'A' && vk <= 'Z') << vk;
}

TEST_F(ansiBuildLiveTest, setupHandsOverToTheTwinAndTheInstalledTwinRemoves)
{
    testTempFolder work;
    const std::wstring setupFolder = work.file(L"setup"), destination = work.file(L"Keys");
    testTempFolder::copyTree(productFolder(), setupFolder);

    // Install mode: the work, from the dialog on, is the ANSI twin's; setup ends with its code.
    DWORD twinProcess = 0;
    {
        programProcess setup(setupFolder + L"\\tvnSetup.exe", L"/I");
        ASSERT_TRUE(setup.started());
        HWND dialog = waitForAnyWindow(L"Tavolinの設置前確認です。");
        ASSERT_NE(dialog, nullptr) << "no setup dialog";
        EXPECT_EQ(setup.find(L"#32770", L""), nullptr) << "setup did not hand over";
        GetWindowThreadProcessId(dialog, &twinProcess);
        sendTo(GetDlgItem(dialog, 1001), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(destination.c_str()));
        EXPECT_EQ(windowText(GetDlgItem(dialog, 1001)), destination);
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        HWND done = waitForAnyWindow(L"Tavolinの設置/更新");
        ASSERT_NE(done, nullptr);
        EXPECT_TRUE(contains(childTexts(done), L"Tavolinの設置(または更新)が完了いたしました。"));
        PostMessageW(done, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(setup.waitForExit(30000), 0u);
    }
    endProgramsStartedBy(twinProcess);
    EXPECT_EQ(testTempFolder::readBytes(destination + L"\\TavolinMe.exe"), testTempFolder::readBytes(exe));
    const std::wstring twin = destination + L"\\Tavolinの撤去Me.exe";
    EXPECT_TRUE(testTempFolder::exists(twin));
    EXPECT_TRUE(testTempFolder::exists(destination + L"\\data"));
    EXPECT_EQ(registryString(HKEY_LOCAL_MACHINE, uninstallKeyName, L"DisplayName"), L"Tavolin 版1.3000号以降");

    // A file the twin cannot replace stops it with -2: setup ends with the twin's code, not its own.
    {
        HANDLE locked = CreateFileW((destination + L"\\TavolinMe.exe").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(locked, INVALID_HANDLE_VALUE);
        programProcess setup(setupFolder + L"\\tvnSetup.exe", L"/I");
        HWND dialog = waitForAnyWindow(L"Tavolinの設置前確認です。");
        EXPECT_NE(dialog, nullptr);
        if (dialog) PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        HWND stopped = waitForAnyWindow(L"Tavolin設置を中断しました。");
        EXPECT_NE(stopped, nullptr);
        if (stopped) PostMessageW(stopped, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(setup.waitForExit(30000), static_cast<DWORD>(-2));
        CloseHandle(locked);
    }

    // The installed twin removes it: confirmed, every listed file goes (its own file at restart).
    {
        programProcess removal(twin, L"");
        const std::vector<std::wstring> boxes = removal.answerBoxesUntilExit();
        EXPECT_EQ(removal.waitForExit(10000), 0u);
        ASSERT_GE(boxes.size(), 2u);
        EXPECT_EQ(boxes.front().rfind(L"Tavolinの撤去前確認です。|", 0), 0u);
        EXPECT_EQ(boxes.back().rfind(L"Tavolinの撤去手続|", 0), 0u);
    }
    EXPECT_FALSE(testTempFolder::exists(destination + L"\\TavolinMe.exe"));
    EXPECT_FALSE(testTempFolder::exists(destination + L"\\TavolinMeDll.dll"));
    EXPECT_FALSE(testTempFolder::exists(destination + L"\\Uninstar.dat"));
    EXPECT_EQ(registryString(HKEY_LOCAL_MACHINE, uninstallKeyName, L"DisplayName"), L"");
    // The product key's InstallDir stays by design; this prefix forgets it for the next run.
    HKEY product = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Brannoch\\Tavolin13", 0, KEY_SET_VALUE, &product) == ERROR_SUCCESS) {
        RegDeleteValueW(product, L"InstallDir");
        RegCloseKey(product);
    }
}

TEST_F(ansiBuildLiveTest, setupWithoutItsTwinSaysSoAndEndsWith41)
{
    testTempFolder bare;
    ASSERT_TRUE(CopyFileW((productFolder() + L"\\tvnSetup.exe").c_str(), bare.file(L"tvnSetup.exe").c_str(), FALSE));
    programProcess setup(bare.file(L"tvnSetup.exe"), L"/I");
    const std::vector<std::wstring> boxes = setup.answerBoxesUntilExit(30000);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(contains(boxes[0], L"Tavolinの撤去Xp.exe|")) << boxes[0].size();
    EXPECT_TRUE(contains(boxes[0], L"CreateProcess が失敗しました。"));
    EXPECT_EQ(setup.waitForExit(10000), 41u);
}
