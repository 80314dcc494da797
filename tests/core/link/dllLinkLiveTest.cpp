// The link over the real hook library from the build: binding and its failures, and the focus,
// layout and IME reports of a focused window in a second process (the helper hookTarget.exe).
#include "core/link/dllLink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "core/platform/errors.h"
#include "core/platform/japaneseText.h"

using ::testing::EndsWith;
using ::testing::HasSubstr;

namespace {

const std::wstring binFolder = TVN_BIN_DIR;
const std::wstring libraryPath = binFolder + L"\\TavolinXPDll.dll";

bool libraryBuilt() { return GetFileAttributesW(libraryPath.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A fresh empty folder under the temporary folder, removed with its files at the end.
class scratchFolder {
public:
    scratchFolder()
    {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        path = std::wstring(base) + L"tvnLink" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(path.c_str(), nullptr);
    }
    ~scratchFolder()
    {
        for (const std::wstring& file : files)
            DeleteFileW(file.c_str());
        RemoveDirectoryW(path.c_str());
    }
    bool copyIn(const std::wstring& source, const std::wstring& name)
    {
        files.push_back(path + L"\\" + name);
        return CopyFileW(source.c_str(), files.back().c_str(), FALSE) != 0;
    }
    std::wstring path;
    std::vector<std::wstring> files;
};

std::wstring connectErrorOf(const std::wstring& folder)
{
    try {
        dllLink link(folder);
    } catch (const dllConnectError& e) {
        return e.text();
    }
    return L"(no error)";
}

bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

// The helper program that owns a focused window with an edit control.
class target {
public:
    bool start()
    {
        const std::wstring path = std::wstring(TVN_TEST_BIN_DIR) + L"\\hookTarget.exe";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        std::wstring command = L"\"" + path + L"\"";
        if (!CreateProcessW(path.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &process))
            return false;
        WaitForInputIdle(process.hProcess, 5000);
        // The first window of a fresh Wine session takes a few seconds.
        return waitFor([this] {
            window = FindWindowW(L"TavolinHookTarget", nullptr);
            edit = window ? FindWindowExW(window, nullptr, L"Edit", nullptr) : nullptr;
            return edit != nullptr;
        }, 20000);
    }
    LRESULT query(int which, LPARAM argument = 0)
    {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(window, WM_APP + 1, which, argument, SMTO_ABORTIFHUNG, 3000, &result);
        return static_cast<LRESULT>(result);
    }
    std::wstring text()
    {
        wchar_t buffer[256] = {};
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(edit, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 3000, &copied);
        return std::wstring(buffer, copied);
    }
    ~target()
    {
        if (window)
            SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
        if (process.hProcess) {
            if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0)
                TerminateProcess(process.hProcess, 1);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
    }
    PROCESS_INFORMATION process = {};
    HWND window = nullptr;
    HWND edit = nullptr;
};

enum { queryOpenStatus = 2, querySetOpenStatus = 4, queryTakeFocus = 7 };

// Drains the library's reports into the link, as an agent's loop does.
void drain(dllLink& link)
{
    for (int i = 0; i < 200; ++i) {
        if (link.handleReport(*link.sendRequest(fromDll::popReport, 0, 0)))
            return;
    }
}

std::wstring takeLog(omsgstream& log)
{
#ifdef TVN_ANSI
    std::wstring text = toWideString(log.takeText());
#else
    std::wstring text = log.takeText();
#endif
    log.clearText();
    return text;
}

}  // namespace

TEST(dllLinkBindingTest, aFolderWithoutTheLibraryGivesTheConnectErrorWithItsCode)
{
    scratchFolder empty;
    EXPECT_EQ(L"TavolinDLLへの接続に失敗しました。エラーコード=126", connectErrorOf(empty.path));
}

TEST(dllLinkBindingTest, aLibraryWithoutTheExportGivesTheSecondText)
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    scratchFolder folder;
    ASSERT_TRUE(folder.copyIn(std::wstring(system) + L"\\version.dll", L"TavolinXPDll.dll"));
    EXPECT_EQ(L"TavolinDLLへは接続しましたが、制御送受信部の接続には失敗しました。エラーコード=127",
              connectErrorOf(folder.path));
}

TEST(dllLinkBindingTest, bindsTheBuiltLibraryAndFallsBackToTheOtherName)
{
    if (!libraryBuilt())
        GTEST_SKIP() << "the hook library is not built";
    {
        dllLink link(binFolder);
        EXPECT_THAT(link.dllPath(), EndsWith(L"\\TavolinXPDll.dll"));
        // Sub-command 1 of the debug switch does nothing and answers "done"; the shared record,
        // which other processes may still map, is left as it is.
        EXPECT_EQ(0, link.sendRequest(fromDll::setDebugOutput, 1, 0)->kind);
        EXPECT_EQ(4, link.sendRequest(static_cast<fromDll::requestToDll>(15), 0, 0)->kind);
    }
    scratchFolder folder;
    ASSERT_TRUE(folder.copyIn(libraryPath, L"orvessa.dll"));
    dllLink fallback(folder.path);
    EXPECT_THAT(fallback.dllPath(), EndsWith(L"\\orvessa.dll"));
    EXPECT_EQ(0, fallback.sendRequest(fromDll::setDebugOutput, 1, 0)->kind);
    EXPECT_EQ(4, fallback.sendRequest(fromDll::setDebugOutput, 2, 0)->kind);
}

TEST(dllLinkLiveTest, followsTheFocusedWindowOfAnotherProcessAndTypesIntoIt)
{
    if (!libraryBuilt())
        GTEST_SKIP() << "the hook library is not built";
    dllLink link(binFolder);
    auto log = std::make_shared<omsgstream>(0x8066, nullptr);
    log->setShownLevel(1);
    link.setLogStream(log);
    link.sendRequest(fromDll::startHooks, 0, 0);

    target helper;
    ASSERT_TRUE(helper.start());
    helper.query(queryTakeFocus);

    // The focus and layout reports of the helper's thread reach the link.
    const bool followed = waitFor([&] {
        drain(link);
        return link.lastForegroundWindow() == helper.edit && link.keyboardLayout() != nullptr;
    }, 5000);
    EXPECT_TRUE(followed);
    const std::wstring text = takeLog(*log);
    EXPECT_THAT(text, HasSubstr(L"キーボードフォーカス先 : hook target\n"));
    EXPECT_THAT(text, HasSubstr(link.imeName()));
    EXPECT_FALSE(link.imeName().empty());

    // With the IME closed a character goes out as a Unicode key into the focused edit control.
    ASSERT_FALSE(link.isImeOpen());
    EXPECT_NE(0, link.outputChar(L'ж'));
    EXPECT_TRUE(waitFor([&] { return helper.text().find(L'ж') != std::wstring::npos; }, 3000)) << "typed text";
    const std::wstring typed = helper.text();
    EXPECT_EQ(1, std::count(typed.begin(), typed.end(), L'ж'));
    // The Unicode key is released again: nothing stays down for the rest of the session.
    EXPECT_TRUE(waitFor([] { return GetAsyncKeyState(VK_PACKET) >= 0; }, 3000));

    // The helper's IME opened is reported back as the open state.
    helper.query(querySetOpenStatus, 1);
    if (helper.query(queryOpenStatus) == 1) {
        EXPECT_TRUE(waitFor([&] {
            drain(link);
            return link.isImeOpen();
        }, 3000));
        helper.query(querySetOpenStatus, 0);
        EXPECT_TRUE(waitFor([&] {
            drain(link);
            return !link.isImeOpen();
        }, 3000));
    }
    link.sendRequest(fromDll::stopHooks, 0, 0);
}
