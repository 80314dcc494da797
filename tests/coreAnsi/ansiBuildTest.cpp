// The ANSI build's own behaviour: CP932 paths and texts, where the second byte of a double-byte
// character may equal a backslash, a vertical bar or another ASCII sign.
#include "core/omsgstream.h"
#include "core/platform.h"
#include "core/registry.h"
#include "core/textFile.h"

#include <gtest/gtest.h>

#include <string>

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
