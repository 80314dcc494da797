// Removal through the system seam: real files, a private registry root, scripted answers.
#include "core/platform/japaneseText.h"
#include "fakeSetupSystem.h"
#include "setup/removal.h"
#include "testTempFolder.h"

#include <gtest/gtest.h>
#include <shlobj.h>

namespace {

const wchar_t uninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\brannochTvn13";

std::string utf16(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

class removalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryW(product.file(L"data").c_str(), nullptr);
        CreateDirectoryW(places.file(L"programs").c_str(), nullptr);
        CreateDirectoryW(places.file(L"programs\\Tavolin 1.3+").c_str(), nullptr);
        CreateDirectoryW(places.file(L"startup").c_str(), nullptr);
        system.folders = {{CSIDL_COMMON_PROGRAMS, places.file(L"programs")},
                          {CSIDL_COMMON_STARTUP, places.file(L"startup")}};
        for (const auto& f : {product.file(L"TavolinXP.exe"), product.file(L"data\\a.txt"), elsewhere.file(L"b.txt"),
                              elsewhere.file(L"c.txt"),
                              product.file(L"user.ini"), places.file(L"programs\\Tavolin 1.3+\\Tavolin1.3+.lnk"),
                              places.file(L"programs\\Tavolin 1.3+\\Tavolinの説明書.lnk"),
                              places.file(L"startup\\Tavolin1.3+.lnk"), places.file(L"startup\\other.lnk")})
            testTempFolder::writeBytes(f, "x");
        // Blank lines, a line naming a folder, and two entries that lead out of the folder.
        testTempFolder::writeBytes(product.file(L"Uninstar.dat"),
                                   utf16(L"TavolinXP.exe\r\ndata\\a.txt\r\n\r\n  \r\ndata\r\n" + elsewhere.file(L"b.txt") +
                                         L"\r\n" + outsideByDots() + L"\r\n"));
        writeRegistryString(system.machineRoot(), uninstall, L"UninstallString", L"x");
        writeRegistryString(system.machineRoot(), L"Software\\Brannoch\\Tavolin13", L"InstallDir", product.path());
    }

    // The sibling folder's c.txt, reached from the product folder through "..".
    std::wstring outsideByDots() const
    {
        return L"..\\" + elsewhere.path().substr(product.path().rfind(L'\\') + 1) + L"\\c.txt";
    }

    bool untouched() const
    {
        return testTempFolder::exists(product.file(L"TavolinXP.exe")) &&
               testTempFolder::exists(product.file(L"Uninstar.dat")) && system.registryKeyExists(uninstall) &&
               testTempFolder::exists(places.file(L"startup\\Tavolin1.3+.lnk"));
    }

    testTempFolder product, elsewhere, places;
    fakeSetupSystem system;
};

}  // namespace

TEST(removalRules, keyTreeGoesWithItsSubkeysAndNothingOutsideIt)
{
    fakeSetupSystem system;
    const HKEY root = system.machineRoot();
    writeRegistryString(root, L"k\\sub\\deeper", L"v", L"1");
    writeRegistryString(root, L"k\\C:x", L"v", L"1");
    // What a colon name would hit if it were taken for a path of its own.
    writeRegistryString(root, L"C:x", L"v", L"keep");
    EXPECT_TRUE(deleteRegistryKeyTree(root, L"k"));
    EXPECT_FALSE(system.registryKeyExists(L"k"));
    EXPECT_EQ(system.registryValue(L"C:x", L"v"), L"keep");
    EXPECT_FALSE(deleteRegistryKeyTree(root, L"missing"));
}

TEST(removalRules, onlyEntriesInsideTheFolderAreDeleted)
{
    const wchar_t* const in = L"C:\\Prog\\Tavolin13";
    const struct {
        const wchar_t *folder, *entry, *admitted;  // the full path deleted, or empty when skipped
    } cases[] = {
        {in, L"data/a.txt", L"C:\\Prog\\Tavolin13\\data\\a.txt"},
        {in, L"data\\..\\..\\Tavolin13\\b.txt", L"C:\\Prog\\Tavolin13\\b.txt"},
        {in, L"C:/PROG/tavolin13/x.txt", L"C:\\PROG\\tavolin13\\x.txt"},
        {L"C:\\Prog\\Tavolin13\\", L"y.txt", L"C:\\Prog\\Tavolin13\\y.txt"},
        {in, L"..\\..\\other.txt", L""},
        {in, L"/WINDOWS/system32/drivers/etc/hosts", L""},
        {in, L"C:\\Prog\\Tavolin13x\\z.txt", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(listedPathInside(c.folder, c.entry), c.admitted) << c.entry;
}

TEST_F(removalTest, confirmedRemovalDeletesTheListedFilesKeyAndShortcuts)
{
    system.running = reinterpret_cast<HWND>(1);
    system.answers = {IDYES};
    // A listed file still in use is deleted at restart, announced with its own box.
    const std::wstring busy = product.file(L"data\\a.txt");
    HANDLE held = CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    removeInstallation(system, product.path());
    CloseHandle(held);

    // Asked first, stopped after the yes.
    ASSERT_GE(system.events.size(), 2u);
    EXPECT_EQ(system.events[0] + L"|" + system.events[1], L"Tavolinの撤去前確認です。|stop");
    EXPECT_EQ(system.stopped, 1);
    EXPECT_FALSE(testTempFolder::exists(product.file(L"TavolinXP.exe")));
    // Entries leading out of the folder are left alone and named once, in the completion box.
    EXPECT_EQ(testTempFolder::readBytes(elsewhere.file(L"b.txt")), "x");
    EXPECT_EQ(testTempFolder::readBytes(elsewhere.file(L"c.txt")), "x");
    EXPECT_FALSE(testTempFolder::exists(product.file(L"Uninstar.dat")));
    EXPECT_EQ(system.restartDeletions, std::vector<std::wstring>{busy});
    EXPECT_TRUE(testTempFolder::exists(product.file(L"user.ini")));
    EXPECT_TRUE(testTempFolder::exists(product.file(L"data")));
    EXPECT_FALSE(system.registryKeyExists(uninstall));
    EXPECT_EQ(system.registryValue(L"Software\\Brannoch\\Tavolin13", L"InstallDir"), product.path());
    EXPECT_FALSE(testTempFolder::exists(places.file(L"programs\\Tavolin 1.3+")));
    EXPECT_EQ(testTempFolder::listing(places.file(L"startup")), L"other.lnk");

    ASSERT_EQ(system.boxes.size(), 3u);
    EXPECT_EQ(system.boxes[0].caption, L"Tavolinの撤去前確認です。");
    EXPECT_EQ(system.boxes[0].type, UINT(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
    EXPECT_EQ(system.boxes[1].caption, busy);
    EXPECT_EQ(system.boxes[1].text, L"上記のファイルは再起動時に削除されます。");
    EXPECT_EQ(system.boxes[2].caption, L"Tavolinの撤去手続");
    const std::wstring named = L"\n" + elsewhere.file(L"b.txt") + L"\n" + outsideByDots();
    EXPECT_EQ(system.boxes[2].text.substr(system.boxes[2].text.size() - named.size()), named);
}

TEST_F(removalTest, refusalsAndMissingListsTouchNothing)
{
    // A normal user: one box, nothing else.
    system.administrator = false;
    system.running = reinterpret_cast<HWND>(1);
    removeInstallation(system, product.path());
    ASSERT_EQ(system.boxes.size(), 1u);
    EXPECT_EQ(system.boxes[0].caption, L"Tavolin撤去作業");
    EXPECT_EQ(system.stopped, 0);
    EXPECT_TRUE(untouched());

    // The question answered no: the running program goes on.
    system.administrator = true;
    system.boxes.clear();
    system.answers = {IDNO};
    removeInstallation(system, product.path());
    EXPECT_EQ(system.boxes.size(), 1u);
    EXPECT_EQ(system.stopped, 0);
    EXPECT_TRUE(untouched());

    // A list of blank lines names nothing: the product folder itself is never scheduled. A list
    // larger than any the setup writes is not read.
    for (const std::string& list :
         {utf16(L"\r\n \r\n"), std::string(), utf16(L"TavolinXP.exe\r\n" + std::wstring(512 * 1024, L' '))}) {
        testTempFolder::writeBytes(product.file(L"Uninstar.dat"), list);
        system.boxes.clear();
        system.answers = {IDYES};
        removeInstallation(system, product.path());
        ASSERT_EQ(system.boxes.size(), 2u);
        EXPECT_EQ(system.boxes[1].text, L"撤去すべきファイルの一覧が取得できませんでした。");
        EXPECT_TRUE(system.restartDeletions.empty());
        EXPECT_TRUE(untouched());
    }
}

TEST_F(removalTest, onlyExistingFilesAreActedOnAndWhatStaysIsNamed)
{
    // Windows 98: deletions at restart go to WININIT.INI, and a file in use can't be renamed: the
    // running program's file and a file held open are scheduled under their own names. A file
    // deleted by hand and a wildcard name no file: no box, nothing scheduled.
    testTempFolder windows;
    system.windows = windows.path();
    system.win98 = true;
    const std::wstring program = product.file(L"TavolinXP.exe"), busy = product.file(L"data\\a.txt");
    system.inUse = {program};
    testTempFolder::writeBytes(product.file(L"Uninstar.dat"), utf16(L"TavolinXP.exe\r\ngone.txt\r\n*.txt\r\ndata\\a.txt\r\n"));
    system.answers = {IDYES};
    {
        HANDLE held = CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        removeInstallation(system, product.path());
        CloseHandle(held);
    }
    EXPECT_TRUE(testTempFolder::exists(program));
    EXPECT_FALSE(testTempFolder::exists(program + L".0"));
    wchar_t shortProgram[MAX_PATH] = {}, held[MAX_PATH] = {};
    GetShortPathNameW(program.c_str(), shortProgram, MAX_PATH);
    GetShortPathNameW(busy.c_str(), held, MAX_PATH);
    EXPECT_EQ(testTempFolder::readBytes(windows.file(L"WININIT.INI")),
              "[rename]\r\nNUL=" + toNarrowString(shortProgram) + "\r\nNUL=" + toNarrowString(held) + "\r\n");
    ASSERT_EQ(system.boxes.size(), 4u);
    EXPECT_EQ(system.boxes[1].caption, program);
    EXPECT_EQ(system.boxes[2].caption, busy);
    EXPECT_EQ(system.boxes[3].text.find(L"Tavolinの撤去が完了いたしました。"), 0u);
    EXPECT_FALSE(testTempFolder::exists(product.file(L"Uninstar.dat")));

    // Without a Windows folder the deletion can't be scheduled: the error box, the file under its
    // name, named in the last box, which says the removal is not complete; the list and the
    // Uninstall entry are kept for a second removal.
    system.windows.clear();
    system.boxes.clear();
    system.answers = {IDYES};
    writeRegistryString(system.machineRoot(), uninstall, L"UninstallString", L"x");
    testTempFolder::writeBytes(product.file(L"Uninstar.dat"), utf16(L"TavolinXP.exe\r\n"));
    removeInstallation(system, product.path());
    EXPECT_TRUE(testTempFolder::exists(program));
    ASSERT_EQ(system.boxes.size(), 3u);
    EXPECT_EQ(system.boxes[1].caption, L"Windows がエラーを返しました。");
    EXPECT_EQ(system.boxes[2].text.find(L"Tavolinの撤去は完了していません。"), 0u);
    EXPECT_NE(system.boxes[2].text.find(L"予約もできませんでした。"), std::wstring::npos);
    EXPECT_EQ(system.boxes[2].text.substr(system.boxes[2].text.size() - program.size() - 1), L"\n" + program);
    EXPECT_TRUE(testTempFolder::exists(product.file(L"Uninstar.dat")));
    EXPECT_TRUE(system.registryKeyExists(uninstall));

    // On NT: renamed aside, not scheduled, and its name can't be taken back: named as it is now.
    system.win98 = false;
    system.restartDeletionFails = true;
    system.blockedNames = {program};
    system.boxes.clear();
    system.answers = {IDYES};
    removeInstallation(system, product.path());
    EXPECT_TRUE(testTempFolder::exists(program + L".0"));
    EXPECT_EQ(system.boxes.back().text.substr(system.boxes.back().text.size() - program.size() - 3), L"\n" + program + L".0");
}

TEST_F(removalTest, aLineThatCantBeReadKeepsTheWayToASecondRemoval)
{
    // A list saved by an editor as CP932 text, with a line cut inside a character: that line is
    // not done, never taken for a missing file. The removal program, in use, stays unscheduled,
    // with the list and the Uninstall entry; the last box says the removal is not complete.
    const std::wstring removalProgram = product.file(L"Tavolinの撤去Xp.exe");
    testTempFolder::writeBytes(removalProgram, "x");
    system.inUse = {removalProgram};
    testTempFolder::writeBytes(product.file(L"Uninstar.dat"),
                               toNarrowString(L"Tavolinの撤去Xp.exe\r\nTavolinXP.exe\r\n") + "cut\x81\r\n");
    system.answers = {IDYES};
    removeInstallation(system, product.path());
    EXPECT_FALSE(testTempFolder::exists(product.file(L"TavolinXP.exe")));
    EXPECT_EQ(testTempFolder::listing(product.path()), L"Tavolinの撤去Xp.exe,Uninstar.dat,data,user.ini");
    EXPECT_TRUE(system.restartDeletions.empty());
    EXPECT_TRUE(system.registryKeyExists(uninstall));
    ASSERT_EQ(system.boxes.size(), 2u);
    EXPECT_EQ(system.boxes[1].type, UINT(MB_ICONWARNING));
    EXPECT_EQ(system.boxes[1].text.find(L"Tavolinの撤去は完了していません。"), 0u);
    EXPECT_NE(system.boxes[1].text.find(L"文字を読み取れないため、何もしていません。"), std::wstring::npos);
    EXPECT_NE(system.boxes[1].text.find(L"\n\xFFFD" L"cut"), std::wstring::npos);
}
