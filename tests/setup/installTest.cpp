// The installation's rules through the system seam: real files in temporary folders, a private
// registry root, scripted accounts and answers.
#include "core/platform/japaneseText.h"
#include "core/platform/platform.h"
#include "core/settings/versionInfo.h"
#include "fakeSetupSystem.h"
#include "setup/deferredDeletion.h"
#include "setup/install.h"
#include "setup/setupSystem.h"
#include "testTempFolder.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>

namespace {

std::string utf16(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::string shortPathOf(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH] = {};
    GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return toNarrowString(buffer);
}

// A file held open the way a loaded program holds it (others may read and rename it), or with no
// sharing at all.
class heldFile {
public:
    heldFile(const std::wstring& path, DWORD share)
        : m_handle(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~heldFile() { if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle); }
    bool held() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

class installTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CreateDirectoryW(setup.file(L"data").c_str(), nullptr);
        CreateDirectoryW(setup.file(L".svn").c_str(), nullptr);
        testTempFolder::writeBytes(setup.file(L"TavolinXP.exe"), "new program");
        testTempFolder::writeBytes(setup.file(L"data\\a.tvn_kana"), "kana");
        testTempFolder::writeBytes(setup.file(L".svn\\entries"), "svn");
        testTempFolder::writeBytes(setup.file(L".x"), "dot file");
        for (const wchar_t* name : {L"programFiles", L"documents", L"programs", L"startup"})
            CreateDirectoryW(places.file(name).c_str(), nullptr);
        system.folders = {{CSIDL_PROGRAM_FILES, places.file(L"programFiles")},
                          {CSIDL_PERSONAL, places.file(L"documents")},
                          {CSIDL_COMMON_PROGRAMS, places.file(L"programs")},
                          {CSIDL_COMMON_STARTUP, places.file(L"startup")}};
    }
    void TearDown() override { CoUninitialize(); }

    std::wstring defaultDestination(const wchar_t* base) const { return places.file(base) + L"\\Brannoch\\Tavolin13"; }
    // The walk as the program sees it, each entry + CR LF.
    std::wstring walkedList() const
    {
        std::wstring list;
        for (const auto& entry : listFilesRecursive(setup.path())) list += entry + L"\r\n";
        return list;
    }

    testTempFolder setup, places;
    fakeSetupSystem system;
};

}  // namespace

TEST(installRules, pathsAndTheRemovalListFormat)
{
    // joinPath as the list entries use it: a drive or a leading backslash stands alone.
    EXPECT_EQ(joinPath(L"C:\\p", L"data\\a.txt"), L"C:\\p\\data\\a.txt");
    EXPECT_EQ(joinPath(L"C:\\p\\", L"a.txt"), L"C:\\p\\a.txt");
    EXPECT_EQ(joinPath(L"C:\\p", L"D:\\x\\b.txt"), L"D:\\x\\b.txt");
    EXPECT_EQ(joinPath(L"C:\\p", L""), L"C:\\p");

    // Old entries follow the copied ones in their old order; blank lines and the CR of each line
    // never become entries; only the first equal old entry is taken by a copy; old entries that
    // lead out of the destination are dropped.
    const struct {
        const wchar_t* oldText;
        std::vector<std::wstring> copied;
        const wchar_t* expected;
    } merges[] = {
        {L"a\r\nold.txt\r\nb\r\n", {L"b", L"a", L"c"}, L"b\r\na\r\nc\r\nold.txt\r\n"},
        {L"\r\n  \r\nx\r\n\r\n", {L"y"}, L"y\r\nx\r\n"},
        {L"a\r\na\r\n", {L"a"}, L"a\r\na\r\n"},
        {L"p\nq", {}, L"p\r\nq\r\n"},
        {L"", {L"data\\a.tvn_kana"}, L"data\\a.tvn_kana\r\n"},
        {L"..\\x.txt\r\nC:\\WINDOWS\\system32\\drivers\\etc\\hosts\r\nc:/P/Data/k.txt\r\nd\\..\\..\\y\r\n/z\r\nold\r\n",
         {L"a"}, L"a\r\nc:/P/Data/k.txt\r\nold\r\n"},
    };
    for (const auto& m : merges) {
        EXPECT_EQ(mergeUninstallList(L"C:\\p", m.copied, uninstallListLines(m.oldText)), m.expected) << m.oldText;
    }

    // The list file: UTF-16LE, up to its first NUL; a last odd byte is left out. Saved again by
    // Notepad: after a byte-order mark, or as CP932 (without a single zero byte; 表 ends in a
    // backslash byte).
    testTempFolder folder;
    EXPECT_EQ(readUninstallList(folder.path()), L"");
    const struct {
        std::string bytes;
        const wchar_t* text;
    } files[] = {
        {utf16(L"ab\r\n") + "X", L"ab\r\n"},
        {utf16(std::wstring(L"a\0b", 3)), L"a"},
        {"Z", L"Z"},
        {"\xFF\xFE" + utf16(L"表.txt\r\nb\r\n"), L"表.txt\r\nb\r\n"},
        {"\xFE\xFF" + std::string("\x88\x68\0.\0x", 6), L"表.x"},
        {"\xEF\xBB\xBF" "\xE8\xA1\xA8.txt\r\n", L"表.txt\r\n"},
        {"data\\\x95\x5C.txt\r\nTavolinXP.exe\r\n", L"data\\表.txt\r\nTavolinXP.exe\r\n"},
        {"data\\\xE8\xA1\xA8.txt\r\n", L"data\\表.txt\r\n"},
        {"\xFF\xFE", L""},
    };
    for (const auto& f : files) {
        testTempFolder::writeBytes(folder.file(L"Uninstar.dat"), f.bytes);
        EXPECT_EQ(readUninstallList(folder.path()), f.text);
    }
}

TEST(installRules, wininitRenameLines)
{
    // Each WININIT.INI: with "NUL=C:\A\B.EXE" added, and with that deletion taken back. Only the
    // "[rename]" section counts; its names are compared as characters (ア, 0x83 0x41, is not ヂ,
    // 0x83 0x61).
    const struct {
        std::string ini, added, takenBack;
    } cases[] = {
        {"", "[rename]\r\nNUL=C:\\A\\B.EXE\r\n", ""},
        {"[boot]\r\nx=1", "[boot]\r\nx=1\r\n[rename]\r\nNUL=C:\\A\\B.EXE\r\n", "[boot]\r\nx=1"},
        {"[Rename]\r\nNUL=C:\\OTHER\r\n\r\n[next]\r\nNUL=C:\\A\\B.EXE\r\n",
         "[Rename]\r\nNUL=C:\\OTHER\r\nNUL=C:\\A\\B.EXE\r\n\r\n[next]\r\nNUL=C:\\A\\B.EXE\r\n",
         "[Rename]\r\nNUL=C:\\OTHER\r\n\r\n[next]\r\nNUL=C:\\A\\B.EXE\r\n"},
        {"[rename]\r\nnul = c:\\a\\b.exe\r\nC:\\N=C:\\A\\B.EXE\r\nNUL=C:\\A\\B.EXE",
         "[rename]\r\nnul = c:\\a\\b.exe\r\nC:\\N=C:\\A\\B.EXE\r\nNUL=C:\\A\\B.EXE\r\nNUL=C:\\A\\B.EXE\r\n",
         "[rename]\r\nC:\\N=C:\\A\\B.EXE\r\n"},
        {"[rename]\nNUL=C:\\\x83\x61\\B.EXE\n",
         "[rename]\nNUL=C:\\\x83\x61\\B.EXE\nNUL=C:\\A\\B.EXE\r\n", "[rename]\nNUL=C:\\\x83\x61\\B.EXE\n"},
    };
    const auto ours = [](const std::string& value) {
        return sameRestartPath(toWideString(value), L"C:\\A\\B.EXE") || sameRestartPath(toWideString(value), L"C:\\ア\\B.EXE");
    };
    for (const auto& c : cases) {
        EXPECT_EQ(withRestartDeletion(c.ini, "C:\\A\\B.EXE"), c.added) << c.ini;
        EXPECT_EQ(withoutRestartDeletions(c.ini, ours), c.takenBack) << c.ini;
    }
}

TEST_F(installTest, createDirectoryRecursiveStopsAtTheRoot)
{
    // On Windows a missing drive answers "path not found" at every level: without a stop at the
    // root the parents would be tried for ever.
    system.missingDrive = L"Q:";
    EXPECT_FALSE(createDirectoryRecursive(system, L"Q:\\x", false));
    EXPECT_EQ(system.directoriesTried, (std::vector<std::wstring>{L"Q:\\x", L"Q:"}));
    system.directoriesTried.clear();
    EXPECT_FALSE(createDirectoryRecursive(system, L"", false));
    EXPECT_FALSE(createDirectoryRecursive(system, L"nofolder.txt", true));
    EXPECT_TRUE(system.directoriesTried.empty());

    EXPECT_TRUE(createDirectoryRecursive(system, places.file(L"n1\\n2\\file.txt"), true));
    EXPECT_TRUE(testTempFolder::exists(places.file(L"n1\\n2")));
    EXPECT_TRUE(createDirectoryRecursive(system, places.file(L"n1"), false));
}

TEST_F(installTest, walkSkipsDotFoldersAndFilesInUseArePutAside)
{
    std::vector<std::wstring> entries = listFilesRecursive(setup.path());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::wstring>{L".x", L"TavolinXP.exe", L"data\\a.tvn_kana"}));

    // The old file, in use, moves aside to the first free number, left for the installation to
    // delete once every file is in place; the new file takes its place and the setup folder keeps
    // its own copy.
    testTempFolder destination;
    const std::wstring target = destination.file(L"TavolinXP.exe");
    testTempFolder::writeBytes(target, "old program");
    testTempFolder::writeBytes(target + L".0", "older leftover");
    std::wstring aside;
    {
        heldFile loaded(target, FILE_SHARE_READ | FILE_SHARE_DELETE);
        ASSERT_TRUE(loaded.held());
        EXPECT_EQ(installFile(system, setup.path(), L"TavolinXP.exe", destination.path(), &aside), 0);
    }
    EXPECT_EQ(aside, target + L".1");
    EXPECT_EQ(testTempFolder::readBytes(target), "new program");
    EXPECT_EQ(testTempFolder::readBytes(target + L".1"), "old program");
    EXPECT_EQ(testTempFolder::readBytes(target + L".0"), "older leftover");
    EXPECT_EQ(testTempFolder::readBytes(setup.file(L"TavolinXP.exe")), "new program");

    // The new file can't be written whole (a full disk): what was written goes and the old file is
    // back under its name.
    testTempFolder::writeBytes(target, "current");
    system.diskFull = true;
    EXPECT_EQ(installFile(system, setup.path(), L"TavolinXP.exe", destination.path(), &aside), 3);
    EXPECT_EQ(aside, L"");
    EXPECT_EQ(testTempFolder::readBytes(target), "current");
    EXPECT_FALSE(testTempFolder::exists(target + L".2"));
    system.diskFull = false;

    // Held with no sharing, it can't be renamed either.
    {
        heldFile locked(target, 0);
        ASSERT_TRUE(locked.held());
        EXPECT_EQ(installFile(system, setup.path(), L"TavolinXP.exe", destination.path(), &aside), 2);
    }

    // The installed copy as its own setup folder: each file counts as installed and stays.
    EXPECT_EQ(installFile(system, setup.path(), L"data\\a.tvn_kana", setup.path(), &aside), 0);
    EXPECT_EQ(testTempFolder::readBytes(setup.file(L"data\\a.tvn_kana")), "kana");
    EXPECT_EQ(aside, L"");
}

TEST_F(installTest, administratorInstallsListsRegistersAndOpensTheFolder)
{
    EXPECT_EQ(runInstallation(system, setup.path()), 0);
    const std::wstring destination = defaultDestination(L"programFiles");
    ASSERT_EQ(system.dialogsShown.size(), 1u);
    EXPECT_EQ(system.dialogsShown[0].baseFolder, places.file(L"programFiles"));
    EXPECT_EQ(system.dialogsShown[0].subfolder, L"Brannoch\\Tavolin13");
    EXPECT_EQ(testTempFolder::readBytes(destination + L"\\data\\a.tvn_kana"), "kana");
    EXPECT_FALSE(testTempFolder::exists(destination + L"\\.svn"));
    EXPECT_EQ(testTempFolder::readBytes(destination + L"\\Uninstar.dat"), utf16(walkedList()));

    EXPECT_EQ(system.registryValue(L"Software\\Brannoch\\Tavolin13", L"InstallDir"), destination);
    const std::wstring uninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\brannochTvn13";
    EXPECT_EQ(system.registryValue(uninstall, L"UninstallString"), L"\"" + destination + L"\\Tavolinの撤去Xp.exe\"");
    EXPECT_EQ(system.registryValue(uninstall, L"DisplayIcon"), destination + L"\\TavolinXP.exe");
    EXPECT_EQ(system.registryValue(uninstall, L"DisplayName"), L"Tavolin 版1.3000号以降");
    EXPECT_EQ(system.registryValue(uninstall, L"DisplayVersion"), L"版1.3007号 構築#062");
    for (const wchar_t* link : {L"HelpLink", L"URLInfoAbout", L"URLUpdateInfo"})
        EXPECT_EQ(system.registryValue(uninstall, link), productSiteAddress) << link;
    EXPECT_TRUE(testTempFolder::exists(places.file(L"programs\\Tavolin 1.3+\\Tavolin1.3+.lnk")));
    EXPECT_TRUE(testTempFolder::exists(places.file(L"programs\\Tavolin 1.3+\\Tavolinの説明書.lnk")));
    EXPECT_TRUE(testTempFolder::exists(places.file(L"startup\\Tavolin1.3+.lnk")));

    ASSERT_EQ(system.boxes.size(), 1u);
    EXPECT_EQ(system.boxes[0].text, L"Tavolinの設置(または更新)が完了いたしました。");
    EXPECT_EQ(system.opened, std::vector<std::wstring>{destination});

    // The update over a running program needs no dialog: it is stopped, its folder updated, and
    // it is started again. A file the new version lacks stays listed after the copied ones, and
    // the list's blank lines are not carried on.
    testTempFolder::writeBytes(destination + L"\\Uninstar.dat", utf16(walkedList() + L"\r\nold.txt\r\n\r\n"));
    DeleteFileW(setup.file(L".x").c_str());
    system.running = reinterpret_cast<HWND>(1);
    system.boxes.clear();
    system.opened.clear();
    EXPECT_EQ(runInstallation(system, setup.path()), 0);
    EXPECT_EQ(system.stopped, 1);
    EXPECT_EQ(system.dialogsShown.size(), 1u);
    EXPECT_TRUE(system.boxes.empty());
    EXPECT_EQ(system.opened, std::vector<std::wstring>{destination + L"\\TavolinXP.exe"});
    EXPECT_EQ(testTempFolder::readBytes(destination + L"\\Uninstar.dat"), utf16(walkedList() + L".x\r\nold.txt\r\n"));
}

TEST_F(installTest, runningProgramIsStoppedOnlyOnceTheWorkStarts)
{
    // A fresh install: cancelling or a missing read-me leaves the program running; starting stops
    // it after the dialog and starts it again from the destination.
    system.running = reinterpret_cast<HWND>(1);
    for (INT_PTR answer : {INT_PTR(-2), INT_PTR(4), INT_PTR(IDOK)}) {
        system.dialogAnswer = answer;
        runInstallation(system, setup.path());
    }
    EXPECT_EQ(system.events, (std::vector<std::wstring>{L"dialog", L"dialog", L"dialog", L"stop"}));
    EXPECT_EQ(system.opened, std::vector<std::wstring>{defaultDestination(L"programFiles") + L"\\TavolinXP.exe"});
}

TEST_F(installTest, normalUserInstallsIntoDocumentsWithoutRegistering)
{
    system.administrator = false;
    EXPECT_EQ(runInstallation(system, setup.path()), 0);
    ASSERT_EQ(system.dialogsShown.size(), 1u);
    EXPECT_EQ(system.dialogsShown[0].baseFolder, places.file(L"documents"));
    EXPECT_FALSE(system.dialogsShown[0].registerEntries);
    EXPECT_TRUE(testTempFolder::exists(defaultDestination(L"documents") + L"\\Uninstar.dat"));
    EXPECT_FALSE(system.registryKeyExists(L"Software"));
    EXPECT_EQ(testTempFolder::listing(places.file(L"programs")), L"");
    EXPECT_EQ(testTempFolder::listing(places.file(L"startup")), L"");
}

TEST_F(installTest, stoppedInstallationsShowWhyAndWriteNothing)
{
    // Cancelled in the dialog.
    system.dialogAnswer = -2;
    EXPECT_EQ(runInstallation(system, setup.path()), 0);
    EXPECT_FALSE(testTempFolder::exists(defaultDestination(L"programFiles")));
    EXPECT_TRUE(system.boxes.empty());

    // A destination on a drive that does not exist.
    system.dialogAnswer = IDOK;
    system.missingDrive = L"Q:";
    system.dialogEdit = [](installTarget& t) { t.baseFolder = L"Q:\\x"; t.subfolder.clear(); };
    EXPECT_EQ(runInstallation(system, setup.path()), -2);
    ASSERT_EQ(system.boxes.size(), 1u);
    EXPECT_EQ(system.boxes[0].caption, L"Tavolin設置を中断しました。");
    EXPECT_EQ(system.boxes[0].text.find(L"ディレクトリを作ることができませんでした。\n\n"), 0u);
    EXPECT_FALSE(system.registryKeyExists(L"Software"));

    // A file that can't even be renamed is found before anything is replaced: nothing changes.
    testTempFolder destination;
    system.boxes.clear();
    system.dialogEdit = [&](installTarget& t) { t.baseFolder = destination.path(); t.subfolder.clear(); };
    for (const auto& entry : listFilesRecursive(setup.path())) {
        if (entry.find(L'\\') == std::wstring::npos) testTempFolder::writeBytes(destination.file(entry), "old");
    }
    heldFile locked(destination.file(L"TavolinXP.exe"), 0);
    EXPECT_EQ(runInstallation(system, setup.path()), -2);
    ASSERT_EQ(system.boxes.size(), 1u);
    EXPECT_EQ(system.boxes[0].text.find(L"古いファイルの一時的改名に失敗しました。\n\nTavolinXP.exe : 10進"), 0u);
    for (const auto& entry : listFilesRecursive(setup.path())) {
        if (entry.find(L'\\') == std::wstring::npos && entry != L"TavolinXP.exe") {
            EXPECT_EQ(testTempFolder::readBytes(destination.file(entry)), "old") << entry;
        }
    }
    EXPECT_FALSE(testTempFolder::exists(destination.file(L"Uninstar.dat")));
    EXPECT_FALSE(system.registryKeyExists(L"Software"));
}

TEST_F(installTest, windows98UpdatesAndTheTakingBackOfRestartDeletions)
{
    testTempFolder windows, destination;
    const std::wstring ini = windows.file(L"WININIT.INI");
    system.windows = windows.path();
    system.dialogEdit = [&](installTarget& t) { t.baseFolder = destination.path(); t.subfolder.clear(); };
    // Windows 98: a file in use can be neither deleted nor renamed. The update finds it before it
    // replaces anything, changes nothing and names it.
    system.win98 = true;
    const std::vector<std::wstring> entries = listFilesRecursive(setup.path());
    CreateDirectoryW(destination.file(L"data").c_str(), nullptr);
    for (const auto& entry : entries) testTempFolder::writeBytes(destination.file(entry), "old");
    {
        heldFile loaded(destination.file(entries.back()), FILE_SHARE_READ);
        EXPECT_EQ(runInstallation(system, setup.path()), -2);
    }
    for (const auto& entry : entries) EXPECT_EQ(testTempFolder::readBytes(destination.file(entry)), "old") << entry;
    ASSERT_EQ(system.boxes.size(), 1u);
    EXPECT_EQ(system.boxes[0].text.find(L"古いファイルの一時的改名に失敗しました。\n\n" + entries.back() + L" : 10進"), 0u);
    EXPECT_NE(system.boxes[0].text.find(L"何も変更していません。"), std::wstring::npos);

    // Its deletions at restart go to WININIT.INI by short path. A write cut short by a full disk
    // leaves the file as it was and reports the disk's error.
    const std::string otherLines = "[rename]\r\nNUL=C:\\KEEP.TXT\r\n\r\n[later]\r\nx=1\r\n";
    testTempFolder::writeBytes(ini, otherLines);
    const std::wstring program = destination.file(L"TavolinXP.exe"), kana = destination.file(L"data\\a.tvn_kana");
    system.diskFull = true;
    EXPECT_FALSE(deleteAtNextRestart(system, program));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
    EXPECT_EQ(testTempFolder::readBytes(ini), otherLines);
    EXPECT_EQ(testTempFolder::listing(windows.path()), L"WININIT.INI");
    system.diskFull = false;
    EXPECT_TRUE(deleteAtNextRestart(system, program));
    EXPECT_NE(shortPathOf(program), toNarrowString(program));
    EXPECT_EQ(testTempFolder::readBytes(ini), "[rename]\r\nNUL=C:\\KEEP.TXT\r\nNUL=" + shortPathOf(program) +
                                                 "\r\n\r\n[later]\r\nx=1\r\n");

    // A removal before the restart left deletions of files that a new installation writes, in
    // both places and in short form too; another program's list ends with a source without its
    // target. The installation takes back its own and leaves every other string as it was.
    system.win98 = false;
    const std::wstring shortProgram = L"\\??\\" + toWideString(shortPathOf(program));
    const std::vector<std::wstring> othersPending{L"\\??\\C:\\other.txt", L"", L"\\??\\C:\\new.txt",
                                            L"\\??\\" + program, L"\\??\\C:\\theirs.txt"};
    system.pending = {othersPending[0], othersPending[1], shortProgram, L"", othersPending[2], othersPending[3], L"\\??\\" + kana, L"",
                      othersPending[4]};
    EXPECT_EQ(runInstallation(system, setup.path()), 0);
    EXPECT_EQ(testTempFolder::readBytes(kana), "kana");
    EXPECT_EQ(system.pending, othersPending);
    EXPECT_EQ(testTempFolder::readBytes(ini), otherLines);

    // The take-back can't be written: the box names what the restart will delete.
    system.pending = {shortProgram, L""};
    system.pendingWriteFails = true;
    system.boxes.clear();
    EXPECT_EQ(runInstallation(system, setup.path()), 0);
    ASSERT_EQ(system.boxes.size(), 1u);
    EXPECT_EQ(system.boxes[0].type, UINT(MB_ICONWARNING));
    EXPECT_NE(system.boxes[0].text.find(L"再起動時の削除を取り消せませんでした。"), std::wstring::npos);
    EXPECT_NE(system.boxes[0].text.find(L"TavolinXP.exe\n"), std::wstring::npos);

    // WININIT.INI that can't be read may hold a deletion of ours: named, with the read's error.
    system.pending.clear();
    heldFile unreadable(ini, 0);
    ASSERT_TRUE(unreadable.held());
    EXPECT_EQ(takeBackRestartDeletions(system, {program}).size(), 1u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
}

TEST(installRules, pendingRenamesAreReadAndWrittenBackByteForByte)
{
    // The real seam, on a private key standing for HKEY_LOCAL_MACHINE. Another program's list ends
    // in a source without its target: taking back a deletion of ours leaves it without the NUL
    // that would make it a deletion.
    const std::wstring name = L"Software\\tvnPendingTest" + std::to_wstring(GetCurrentProcessId());
    HKEY stand = nullptr, session = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &stand, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExW(stand, L"System\\CurrentControlSet\\Control\\Session Manager", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &session, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, stand), ERROR_SUCCESS);
    testTempFolder folder;
    const std::wstring fresh = folder.file(L"fresh.txt");
    testTempFolder::writeBytes(fresh, "new");
    const auto setValue = [&](DWORD type, const std::wstring& data) {
        RegSetValueExW(session, L"PendingFileRenameOperations", 0, type, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    };
    const auto value = [&] {
        std::wstring data(512, L'\0');
        DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        if (RegQueryValueExW(session, L"PendingFileRenameOperations", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS)
            return std::wstring(L"(none)");
        return data.substr(0, size / sizeof(wchar_t));
    };
    const std::wstring others(L"\\??\\C:\\a\0\0\\??\\C:\\dangling\0", 26);
    setupSystem real;
    const struct {
        std::wstring before, after;
    } lists[] = {
        {std::wstring(L"\\??\\C:\\a\0\0", 10) + L"\\??\\" + fresh + std::wstring(L"\0\0\\??\\C:\\dangling\0", 18), others},
        {std::wstring(L"\\??\\", 4) + fresh + std::wstring(L"\0\0\0", 3), L"(none)"},
        {std::wstring(L"\\??\\C:\\b\0\\??\\C:\\c\0", 18) + L"\\??\\" + fresh + std::wstring(L"\0\0\0", 3),
         std::wstring(L"\\??\\C:\\b\0\\??\\C:\\c\0\0", 19)},
        // An odd count that ends with its closing NUL keeps it.
        {std::wstring(L"\\??\\C:\\a\0\0", 10) + L"\\??\\" + fresh + std::wstring(L"\0\0\\??\\C:\\d\0\0", 12),
         std::wstring(L"\\??\\C:\\a\0\0\\??\\C:\\d\0\0", 20)},
    };
    for (const auto& list : lists) {
        setValue(REG_MULTI_SZ, list.before);
        EXPECT_TRUE(takeBackRestartDeletions(real, {fresh}).empty());
        EXPECT_EQ(value(), list.after);
    }

    // A value that can't be read is a take-back that failed, with its own error; so is a write
    // that fails.
    setValue(REG_SZ, L"\\??\\" + fresh);
    SetLastError(0);
    EXPECT_EQ(takeBackRestartDeletions(real, {fresh}).size(), 1u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
    RegCloseKey(session);
    RegDeleteKeyW(stand, L"System\\CurrentControlSet\\Control\\Session Manager");
    SetLastError(0);
    EXPECT_FALSE(real.setPendingFileRenames(std::wstring(L"\\??\\C:\\x\0\0", 11)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(stand);
    typedef LONG(WINAPI * deleteTree)(HKEY, LPCWSTR);
    auto remove = reinterpret_cast<deleteTree>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteTreeW"));
    if (remove) remove(HKEY_CURRENT_USER, name.c_str());
}
