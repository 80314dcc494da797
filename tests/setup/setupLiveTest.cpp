// Acceptance: the real tvnSetup.exe of the assembled product folder under Wine, its dialog and
// boxes answered from outside: a fresh install, an update over a running TavolinXP.exe with files
// in use, a stopped update, the installed copy run as its own setup, a setup folder without its
// read-me, and the removal by the installed "Tavolinの撤去Xp.exe".
#include "core/settings/versionInfo.h"
#include "liveDesktop.h"
#include "programWindows.h"
#include "testTempFolder.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

namespace {

const wchar_t productKeyName[] = L"Software\\Brannoch\\Tavolin13";
const wchar_t uninstallKeyName[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\brannochTvn13";
const wchar_t sessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const DWORD stoppedAtAFile = static_cast<DWORD>(-2);

BOOL CALLBACK collectWindow(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> topWindowsOf(DWORD process)
{
    std::vector<HWND> all, mine;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&all));
    for (HWND w : all) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        wchar_t name[64] = {};
        GetClassNameW(w, name, 64);
        if (owner == process && std::wstring(name) == L"#32770" && IsWindowVisible(w)) mine.push_back(w);
    }
    return mine;
}

// A box or dialog of the program: its caption and the texts of its children.
struct shownWindow {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
};

std::wstring walkFolder(const std::wstring& folder, const std::wstring& prefix)
{
    // The order the setup program walks in: FindFirstFile's, with "." folders skipped.
    std::wstring list;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return list;
    do {
        const std::wstring name = data.cFileName;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) list += prefix + name + L"\r\n";
        else if (name[0] != L'.') list += walkFolder(folder + L"\\" + name, prefix + name + L"\\");
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return list;
}

std::string utf16(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::wstring registryString(HKEY root, const std::wstring& key, const std::wstring& value)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return L"";
    wchar_t data[1024] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG result = RegQueryValueExW(handle, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS && type == REG_SZ ? data : L"";
}

bool keyExists(const std::wstring& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

// The pending renames of the next restart: source, target pairs.
std::vector<std::wstring> pendingRenames()
{
    std::vector<std::wstring> items;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) return items;
    DWORD size = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, 0);
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                         &size);
        for (size_t i = 0; i < size / sizeof(wchar_t);) {
            std::wstring item(data.data() + i);
            items.push_back(item);
            i += item.size() + 1;
        }
    }
    RegCloseKey(key);
    return items;
}

bool deletionPending(const std::wstring& path)
{
    for (const auto& item : pendingRenames()) {
        if (item.size() >= path.size() && _wcsicmp(item.c_str() + item.size() - path.size(), path.c_str()) == 0)
            return true;
    }
    return false;
}

// Leaves the prefix's pending renames as they were, without the ones of this test's folders.
void dropPendingRenamesUnder(const std::wstring& folder)
{
    const std::vector<std::wstring> items = pendingRenames();
    std::wstring kept;
    for (size_t i = 0; i + 1 < items.size(); i += 2) {
        if (items[i].find(folder) != std::wstring::npos) continue;
        kept += items[i] + L'\0' + items[i + 1] + L'\0';
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    if (kept.empty()) RegDeleteValueW(key, L"PendingFileRenameOperations");
    else RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.c_str()),
                        static_cast<DWORD>((kept.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

struct shortcut {
    std::wstring target, arguments, directory;
    int showByte = 0;
};

shortcut readShortcut(const std::wstring& path)
{
    shortcut s;
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return s;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
        wchar_t text[MAX_PATH] = {};
        link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
        s.target = text;
        link->GetArguments(text, MAX_PATH);
        s.arguments = text;
        link->GetWorkingDirectory(text, MAX_PATH);
        s.directory = text;
    }
    if (file) file->Release();
    link->Release();
    // Wine's link object reports show command 1 whatever the file holds: read the file itself.
    const std::string bytes = testTempFolder::exists(path) ? testTempFolder::readBytes(path) : std::string();
    if (bytes.size() > 0x3C) s.showByte = static_cast<unsigned char>(bytes[0x3C]);
    return s;
}

// One run of a program, with its windows found and answered from outside.
class program {
public:
    program(const std::wstring& exe, const std::wstring& arguments)
    {
        std::wstring command = L"\"" + exe + L"\" " + arguments;
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        m_started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &m_process) != FALSE;
    }
    ~program()
    {
        if (!m_started) return;
        if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(m_process.hProcess, 1);
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }
    program(const program&) = delete;
    program& operator=(const program&) = delete;

    bool started() const { return m_started; }
    bool ended() const { return WaitForSingleObject(m_process.hProcess, 0) == WAIT_OBJECT_0; }

    // The next box or dialog the program shows (the one with the caption, when given).
    shownWindow waitForWindow(const std::wstring& caption = L"", DWORD timeout = 30000) const
    {
        shownWindow shown;
        pumpUntil([&] {
            for (HWND w : topWindowsOf(m_process.dwProcessId)) {
                const std::wstring title = windowText(w);
                // A box is found while it is still being built: wait for its caption and buttons.
                if (!caption.empty() && title != caption) continue;
                if (title.empty() || !GetDlgItem(w, GetDlgItem(w, IDYES) ? IDNO : IDOK)) continue;
                shown.window = w;
                shown.caption = title;
                for (HWND child = GetWindow(w, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
                    shown.text += windowText(child) + L"|";
                return true;
            }
            return ended();
        }, timeout);
        return shown;
    }
    // Answers every box until the program ends: IDYES for questions, IDOK otherwise. Returns what
    // was shown.
    std::vector<shownWindow> answerUntilEnd(DWORD timeout = 60000)
    {
        std::vector<shownWindow> shown;
        const DWORD start = GetTickCount();
        while (!ended() && GetTickCount() - start < timeout) {
            shownWindow box = waitForWindow(L"", 2000);
            if (!box.window) continue;
            shown.push_back(box);
            const bool question = GetDlgItem(box.window, IDYES) != nullptr;
            PostMessageW(box.window, WM_COMMAND, question ? IDYES : IDOK, 0);
            pumpUntil([&] { return !IsWindow(box.window) || ended(); }, 5000);
        }
        return shown;
    }
    DWORD exitCode(DWORD timeout = 60000)
    {
        pumpUntil([&] { return ended(); }, timeout);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(m_process.hProcess, &code);
        return code;
    }

private:
    bool m_started = false;
    PROCESS_INFORMATION m_process{};
};

void click(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

RECT childRect(HWND dialog, int id)
{
    RECT r{};
    GetWindowRect(GetDlgItem(dialog, id), &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Stops the running tray program, if any, and waits until its process has ended.
void stopMainProgram()
{
    HWND main = FindWindowW(L"orvessaTasktray", nullptr);
    if (!main) return;
    DWORD id = 0;
    GetWindowThreadProcessId(main, &id);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    SendMessageTimeoutW(main, WM_COMMAND, 3001, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    if (process) {
        pumpUntil([&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, 20000);
        CloseHandle(process);
    }
}

std::vector<HWND> folderWindows(const std::wstring& folderName)
{
    std::vector<HWND> all, found;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&all));
    for (HWND w : all) {
        if (IsWindowVisible(w) && windowText(w).find(folderName) != std::wstring::npos) found.push_back(w);
    }
    return found;
}

// Closes the folder window the setup program opens for the user at the end (waiting for it when
// one is expected), so no program of the test outlives it.
void closeFolderWindows(const std::wstring& folderName, bool expected)
{
    // A loaded machine may take long to start the folder's window.
    if (expected) pumpUntil([&] { return !folderWindows(folderName).empty(); }, 30000);
    pumpUntil([&] {
        const std::vector<HWND> open = folderWindows(folderName);
        for (HWND w : open) PostMessageW(w, WM_CLOSE, 0, 0);
        return open.empty();
    }, 10000);
}

std::wstring specialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
    return path;
}

class setupLiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_TRUE(testTempFolder::exists(productFolder() + L"\\tvnSetup.exe"));
        testTempFolder::copyTree(productFolder(), setupFolder());
        SetEnvironmentVariableW(L"APPDATA", appData.path().c_str());
        DWORD answered = 1;  // start with Windows: already answered, so no question at start
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, productKeyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        RegSetValueExW(key, L"autoStart", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&answered), sizeof answered);
        RegCloseKey(key);
        forgetInstallation();
        menuFolder = specialFolder(CSIDL_COMMON_PROGRAMS) + L"\\Tavolin 1.3+";
        startupLink = specialFolder(CSIDL_COMMON_STARTUP) + L"\\Tavolin1.3+.lnk";
    }
    void TearDown() override
    {
        stopMainProgram();
        pumpMessages(1000);
        closeFolderWindows(L"Keys", false);
        forgetInstallation();
        DeleteFileW((menuFolder + L"\\Tavolin1.3+.lnk").c_str());
        DeleteFileW((menuFolder + L"\\Tavolinの説明書.lnk").c_str());
        RemoveDirectoryW(menuFolder.c_str());
        DeleteFileW(startupLink.c_str());
        dropPendingRenamesUnder(L"tvnTest" + std::to_wstring(GetCurrentProcessId()) + L"_");
        CoUninitialize();
    }
    static void forgetInstallation()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, productKeyName, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"InstallDir");
            RegCloseKey(key);
        }
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, uninstallKeyName);
    }

    std::wstring setupFolder() const { return work.file(L"setup"); }
    std::wstring destination() const { return work.file(L"Keys"); }
    std::wstring listBytesOf(const std::wstring& folder) const { return walkFolder(folder, L""); }

    testTempFolder work, appData;
    std::wstring menuFolder, startupLink;
};

}  // namespace

TEST_F(setupLiveTest, installsUpdatesAndRemoves)
{
    // 1. A fresh install: the dialog shows the read-me and the default place; the user tries the
    //    buttons, types a folder of his own and starts.
    {
        program setup(setupFolder() + L"\\tvnSetup.exe", L"/I");
        ASSERT_TRUE(setup.started());
        shownWindow dialog = setup.waitForWindow(L"Tavolinの設置前確認です。");
        ASSERT_NE(dialog.window, nullptr) << "no setup dialog";
        HWND d = dialog.window;
        EXPECT_NE(windowText(GetDlgItem(d, 1000)).find(L"フック"), std::wstring::npos);
        const std::wstring programFiles = specialFolder(CSIDL_PROGRAM_FILES);
        EXPECT_EQ(windowText(GetDlgItem(d, 1001)), programFiles + L"\\Brannoch\\Tavolin13");
        EXPECT_EQ(windowText(GetDlgItem(d, 1006)), L"スタートメニューや「プログラムの追加と削除」に登録する(&R)");
        EXPECT_EQ(SendMessageW(GetDlgItem(d, 1006), BM_GETCHECK, 0, 0), BST_CHECKED);
        pumpMessages(500);
        screenshot(L"setup-dialog.png");

        // Growing the window moves the corner buttons and grows the read-me; it can't be made
        // smaller than 100 x 100 pixels.
        RECT before{};
        GetWindowRect(d, &before);
        const RECT okBefore = childRect(d, IDOK), checkBefore = childRect(d, 1006);
        SetWindowPos(d, nullptr, 0, 0, before.right - before.left + 100, before.bottom - before.top + 80,
                     SWP_NOMOVE | SWP_NOZORDER);
        pumpMessages(200);
        const RECT okAfter = childRect(d, IDOK), checkAfter = childRect(d, 1006);
        EXPECT_EQ(okAfter.left - okBefore.left, 100);
        EXPECT_EQ(okAfter.top - okBefore.top, 80);
        EXPECT_EQ(checkAfter.left, checkBefore.left);
        EXPECT_EQ(checkAfter.top - checkBefore.top, 80);
        RECT tiny{10, 10, 60, 50};
        SendMessageW(d, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&tiny));
        EXPECT_EQ(tiny.right - tiny.left, 100);
        EXPECT_EQ(tiny.bottom - tiny.top, 100);
        SetWindowPos(d, nullptr, 0, 0, before.right - before.left, before.bottom - before.top,
                     SWP_NOMOVE | SWP_NOZORDER);

        // Unticking registration offers the documents folder, "標準へ戻す" Program Files again, and
        // ticking it again asks once more.
        const std::wstring standard = programFiles + L"\\Brannoch\\Tavolin13";
        const std::wstring documents = specialFolder(CSIDL_PERSONAL) + L"\\Brannoch\\Tavolin13";
        for (const std::wstring& offered : {documents, standard}) {
            click(d, 1006);
            shownWindow question = setup.waitForWindow(L"撤去情報書き込みの設定を変更を指示されました。");
            ASSERT_NE(question.window, nullptr);
            PostMessageW(question.window, WM_COMMAND, IDYES, 0);
            EXPECT_TRUE(pumpUntil([&] { return !IsWindow(question.window); }, 5000));
            EXPECT_TRUE(pumpUntil([&] { return windowText(GetDlgItem(d, 1001)) == offered; }, 5000));
            EXPECT_EQ(SendMessageW(GetDlgItem(d, 1006), BM_GETCHECK, 0, 0),
                      offered == standard ? BST_CHECKED : BST_UNCHECKED);
            if (offered == documents) {
                click(d, 1003);
                EXPECT_TRUE(pumpUntil([&] { return windowText(GetDlgItem(d, 1001)) == standard; }, 5000));
            }
        }

        SendMessageW(GetDlgItem(d, 1001), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(destination().c_str()));
        PostMessageW(d, WM_COMMAND, IDOK, 0);
        shownWindow done = setup.waitForWindow(L"Tavolinの設置/更新");
        EXPECT_NE(done.text.find(L"Tavolinの設置(または更新)が完了いたしました。"), std::wstring::npos);
        if (done.window) PostMessageW(done.window, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(setup.exitCode(), 0u);
    }
    const std::wstring firstWalk = listBytesOf(setupFolder());
    EXPECT_EQ(testTempFolder::readBytes(destination() + L"\\Uninstar.dat"), utf16(firstWalk));
    EXPECT_EQ(testTempFolder::readBytes(destination() + L"\\TavolinXP.exe"),
              testTempFolder::readBytes(setupFolder() + L"\\TavolinXP.exe"));
    for (size_t at = 0, end; (end = firstWalk.find(L"\r\n", at)) != std::wstring::npos; at = end + 2) {
        EXPECT_TRUE(testTempFolder::exists(destination() + L"\\" + firstWalk.substr(at, end - at)));
    }
    EXPECT_NE(firstWalk.find(L"data\\"), std::wstring::npos);
    EXPECT_EQ(registryString(HKEY_LOCAL_MACHINE, productKeyName, L"InstallDir"), destination());
    EXPECT_EQ(registryString(HKEY_LOCAL_MACHINE, uninstallKeyName, L"UninstallString"),
              L"\"" + destination() + L"\\Tavolinの撤去Xp.exe\"");
    EXPECT_EQ(registryString(HKEY_LOCAL_MACHINE, uninstallKeyName, L"URLInfoAbout"), productSiteAddress);
    EXPECT_EQ(registryString(HKEY_LOCAL_MACHINE, uninstallKeyName, L"DisplayIcon"), destination() + L"\\TavolinXP.exe");
    EXPECT_EQ(registryString(HKEY_LOCAL_MACHINE, uninstallKeyName, L"DisplayName"), L"Tavolin 版1.3000号以降");
    EXPECT_EQ(registryString(HKEY_LOCAL_MACHINE, uninstallKeyName, L"DisplayVersion"), L"版1.3007号 構築#062");
    const shortcut menu = readShortcut(menuFolder + L"\\Tavolin1.3+.lnk");
    EXPECT_EQ(menu.target, destination() + L"\\TavolinXP.exe");
    EXPECT_EQ(menu.arguments, L"");
    EXPECT_EQ(menu.directory, destination());
    EXPECT_EQ(menu.showByte, SW_SHOWMINNOACTIVE);
    const shortcut startup = readShortcut(startupLink);
    EXPECT_EQ(startup.target, destination() + L"\\TavolinXP.exe");
    EXPECT_EQ(startup.arguments, L"-S");
    EXPECT_EQ(readShortcut(menuFolder + L"\\Tavolinの説明書.lnk").target, destination() + L"\\説明書.html");
    closeFolderWindows(L"Keys", true);

    // 2. An update over a running TavolinXP.exe, no dialog: it quits, its files are replaced (one
    //    held open as a loaded program holds it is put aside), and it is started again. The new
    //    version lacks a file, which stays listed last.
    {
        program running(destination() + L"\\TavolinXP.exe", L"");
        ASSERT_TRUE(pumpUntil([] { return FindWindowW(L"orvessaTasktray", nullptr) != nullptr; }, 30000));
        pumpMessages(1000);
        HWND oldMain = FindWindowW(L"orvessaTasktray", nullptr);
        ASSERT_TRUE(DeleteFileW((setupFolder() + L"\\Tavolinの撤去Me.exe").c_str()));
        const std::wstring held = destination() + L"\\説明書.html";
        testTempFolder::writeBytes(setupFolder() + L"\\説明書.html", "<p>new manual</p>");
        HANDLE loaded = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(loaded, INVALID_HANDLE_VALUE);
        program update(setupFolder() + L"\\tvnSetup.exe", L"/I");
        EXPECT_EQ(update.exitCode(), 0u);
        CloseHandle(loaded);
        EXPECT_TRUE(running.ended());
        EXPECT_EQ(testTempFolder::readBytes(held), "<p>new manual</p>");
        // The old file put aside goes as soon as nothing holds it, or at the restart.
        EXPECT_TRUE(!testTempFolder::exists(held + L".0") || deletionPending(held + L".0"));
        EXPECT_EQ(testTempFolder::readBytes(destination() + L"\\Uninstar.dat"),
                  utf16(listBytesOf(setupFolder()) + L"Tavolinの撤去Me.exe\r\n"));
        HWND newMain = nullptr;
        EXPECT_TRUE(pumpUntil([&] {
            newMain = FindWindowW(L"orvessaTasktray", nullptr);
            return newMain && newMain != oldMain;
        }, 30000)) << "the updated program was not started again";
        stopMainProgram();
    }

    // 3. A file held with no sharing can't even be renamed: the box names it, exit -2.
    {
        HANDLE locked = CreateFileW((destination() + L"\\TavolinXP.exe").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(locked, INVALID_HANDLE_VALUE);
        program setup(setupFolder() + L"\\tvnSetup.exe", L"/I");
        shownWindow dialog = setup.waitForWindow(L"Tavolinの設置前確認です。");
        ASSERT_NE(dialog.window, nullptr);
        EXPECT_EQ(windowText(GetDlgItem(dialog.window, 1001)), destination());
        PostMessageW(dialog.window, WM_COMMAND, IDOK, 0);
        shownWindow box = setup.waitForWindow(L"Tavolin設置を中断しました。");
        EXPECT_NE(box.text.find(L"古いファイルの一時的改名に失敗しました。\n\nTavolinXP.exe : 10進"), std::wstring::npos)
            << box.text.size();
        if (box.window) PostMessageW(box.window, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(setup.exitCode(), stoppedAtAFile);
        CloseHandle(locked);
    }

    // 4. The installed copy run as its own setup: every file stays where it is, old files left
    //    aside go, and its list stays as it is: it never names the list itself or a user's file.
    const auto withoutAsides = [](const std::wstring& walk) {
        std::wstring kept;
        for (size_t start = 0; start < walk.size();) {
            const size_t end = walk.find(L"\r\n", start) + 2;
            const std::wstring line = walk.substr(start, end - start);
            if (line.size() < 4 || line[line.size() - 4] != L'.' || !iswdigit(line[line.size() - 3])) kept += line;
            start = end;
        }
        return kept;
    };
    testTempFolder::writeBytes(destination() + L"\\tvn-user.ini", "settings");
    testTempFolder::writeBytes(destination() + L"\\data\\mine.tvn_kana", "my layout");
    const std::string listBefore = testTempFolder::readBytes(destination() + L"\\Uninstar.dat");
    const std::wstring installedWalk = withoutAsides(listBytesOf(destination()));
    {
        program setup(destination() + L"\\tvnSetup.exe", L"/I");
        shownWindow dialog = setup.waitForWindow(L"Tavolinの設置前確認です。");
        ASSERT_NE(dialog.window, nullptr);
        PostMessageW(dialog.window, WM_COMMAND, IDOK, 0);
        pumpUntil([&] { return !IsWindow(dialog.window); }, 5000);
        const std::vector<shownWindow> boxes = setup.answerUntilEnd();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, L"Tavolinの設置/更新");
        EXPECT_EQ(setup.exitCode(), 0u);
    }
    EXPECT_EQ(withoutAsides(listBytesOf(destination())), installedWalk);
    EXPECT_EQ(testTempFolder::readBytes(destination() + L"\\TavolinXP.exe"),
              testTempFolder::readBytes(setupFolder() + L"\\TavolinXP.exe"));
    EXPECT_EQ(testTempFolder::readBytes(destination() + L"\\Uninstar.dat"), listBefore);
    EXPECT_FALSE(deletionPending(destination() + L"\\TavolinXP.exe.0"));
    closeFolderWindows(L"Keys", true);

    // 5. A setup folder without its read-me: the warning, and nothing is installed.
    {
        testTempFolder bare;
        ASSERT_TRUE(CopyFileW((setupFolder() + L"\\tvnSetup.exe").c_str(), bare.file(L"tvnSetup.exe").c_str(), FALSE));
        program setup(bare.file(L"tvnSetup.exe"), L"/I");
        shownWindow box = setup.waitForWindow(L"Tavolinの設置作業");
        EXPECT_NE(box.text.find(L"Tavolin設置前にお読みいただきたい文章が表示できませんでした。"), std::wstring::npos);
        if (box.window) PostMessageW(box.window, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(setup.exitCode(), 0u);
        EXPECT_EQ(withoutAsides(listBytesOf(destination())), installedWalk);
    }

    // 6. Removal by the installed removal program, with the main program running: it is stopped,
    //    the listed files, the Uninstall key, the shortcuts and the Start-menu folder go;
    //    InstallDir stays, and the running removal program's own file goes at restart, renamed
    //    aside so that its name is free. A library held in use by another program, which can be
    //    neither deleted nor renamed, goes at restart under its own name.
    const std::wstring removalExe = destination() + L"\\Tavolinの撤去Xp.exe";
    const std::wstring library = destination() + L"\\TavolinXPDll.dll";
    {
        program running(destination() + L"\\TavolinXP.exe", L"");
        ASSERT_TRUE(pumpUntil([] { return FindWindowW(L"orvessaTasktray", nullptr) != nullptr; }, 30000));
        pumpMessages(1000);
        HANDLE inUse = CreateFileW(library.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(inUse, INVALID_HANDLE_VALUE);
        program removal(removalExe, L"");
        const std::vector<shownWindow> boxes = removal.answerUntilEnd();
        CloseHandle(inUse);
        EXPECT_EQ(removal.exitCode(), 0u);
        EXPECT_TRUE(pumpUntil([&] { return running.ended(); }, 5000));
        ASSERT_GE(boxes.size(), 3u);
        EXPECT_EQ(boxes.front().caption, L"Tavolinの撤去前確認です。");
        EXPECT_EQ(boxes.back().caption, L"Tavolinの撤去手続");
        const bool ownFileAnnounced = std::any_of(boxes.begin(), boxes.end(), [&](const shownWindow& b) {
            return b.caption == removalExe && b.text.find(L"上記のファイルは再起動時に削除されます。") != std::wstring::npos;
        });
        EXPECT_TRUE(ownFileAnnounced);
        EXPECT_TRUE(deletionPending(removalExe + L".0"));
        EXPECT_FALSE(testTempFolder::exists(removalExe));
        EXPECT_TRUE(deletionPending(library));
        EXPECT_FALSE(testTempFolder::exists(destination() + L"\\TavolinXP.exe"));
        EXPECT_FALSE(testTempFolder::exists(destination() + L"\\Uninstar.dat"));
        // Every listed file is gone, or announced for deletion at restart.
        for (size_t at = 0, end; (end = installedWalk.find(L"\r\n", at)) != std::wstring::npos; at = end + 2) {
            const std::wstring path = destination() + L"\\" + installedWalk.substr(at, end - at);
            if (path == destination() + L"\\tvn-user.ini" || path == destination() + L"\\data\\mine.tvn_kana") {
                EXPECT_TRUE(testTempFolder::exists(path));  // the users' files were never listed
                continue;
            }
            const bool announced = std::any_of(boxes.begin(), boxes.end(), [&](const shownWindow& b) { return b.caption == path; });
            EXPECT_TRUE(!testTempFolder::exists(path) || announced) << at;
        }
        EXPECT_TRUE(testTempFolder::exists(destination() + L"\\data"));
        EXPECT_FALSE(keyExists(uninstallKeyName));
        EXPECT_EQ(registryString(HKEY_LOCAL_MACHINE, productKeyName, L"InstallDir"), destination());
        EXPECT_FALSE(testTempFolder::exists(menuFolder));
        EXPECT_FALSE(testTempFolder::exists(startupLink));
    }

    // 7. Installed again at once, before the restart: nothing scheduled for the restart names a
    //    file of the new installation; the old removal program put aside still goes.
    {
        program setup(setupFolder() + L"\\tvnSetup.exe", L"/I");
        shownWindow dialog = setup.waitForWindow(L"Tavolinの設置前確認です。");
        ASSERT_NE(dialog.window, nullptr);
        EXPECT_EQ(windowText(GetDlgItem(dialog.window, 1001)), destination());
        PostMessageW(dialog.window, WM_COMMAND, IDOK, 0);
        pumpUntil([&] { return !IsWindow(dialog.window); }, 5000);
        const std::vector<shownWindow> boxes = setup.answerUntilEnd();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, L"Tavolinの設置/更新");
        EXPECT_EQ(setup.exitCode(), 0u);
    }
    const std::wstring reinstalled = listBytesOf(setupFolder()) + L"Uninstar.dat\r\n";
    for (size_t at = 0, end; (end = reinstalled.find(L"\r\n", at)) != std::wstring::npos; at = end + 2) {
        const std::wstring path = destination() + L"\\" + reinstalled.substr(at, end - at);
        EXPECT_TRUE(testTempFolder::exists(path)) << at;
        EXPECT_FALSE(deletionPending(path)) << at;
    }
    EXPECT_TRUE(deletionPending(removalExe + L".0"));
    closeFolderWindows(L"Keys", true);
}
