// The ANSI setup library's own paths: CP932 names, where a trail byte may equal a backslash, the
// short names WININIT.INI holds, and list lines CP932 can't hold.
#include "core/platform/japaneseText.h"
#include "setup/deferredDeletion.h"
#include "setup/fakeSetupSystem.h"
#include "setup/install.h"
#include "testTempFolder.h"

#include <gtest/gtest.h>

static_assert(sizeof(TCHAR) == 1, "this test program is built for the ANSI build");

TEST(setupAnsi, restartDeletionsByShortCp932PathsAndTheirTakingBack)
{
    // "ソ" is 83 5C in CP932: its second byte is a backslash.
    testTempFolder windows, place;
    const std::wstring wideFolder = place.file(L"ソフトウェアの長い名前");
    ASSERT_TRUE(CreateDirectoryW(wideFolder.c_str(), nullptr));
    testTempFolder::writeBytes(wideFolder + L"\\TavolinMeDll.dll", "library");
    const std::string file = toNarrowString(wideFolder + L"\\TavolinMeDll.dll");
    fakeSetupSystem system;
    system.win98 = true;
    system.windows = toNarrowString(windows.path());
    const std::wstring ini = windows.file(L"WININIT.INI");
    testTempFolder::writeBytes(ini, "[rename]\r\nNUL=C:\\KEEP.TXT\r\n");

    ASSERT_TRUE(deleteAtNextRestart(system, file));
    char shortPath[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameA(file.c_str(), shortPath, MAX_PATH), 0u);
    EXPECT_NE(std::string(shortPath), file);
    EXPECT_EQ(testTempFolder::readBytes(ini), "[rename]\r\nNUL=C:\\KEEP.TXT\r\nNUL=" + std::string(shortPath) + "\r\n");
    EXPECT_TRUE(takeBackRestartDeletions(system, {file}).empty());
    EXPECT_EQ(testTempFolder::readBytes(ini), "[rename]\r\nNUL=C:\\KEEP.TXT\r\n");

    // A list line with a letter CP932 lacks would name another file: it is not read as a name.
    std::vector<std::wstring> unreadable;
    EXPECT_EQ(uninstallListLines(L"ソ.txt\r\n\xD55C.txt\r\n", &unreadable), std::vector<std::string>{toNarrowString(L"ソ.txt")});
    EXPECT_EQ(unreadable, std::vector<std::wstring>{L"\xD55C.txt"});
}
