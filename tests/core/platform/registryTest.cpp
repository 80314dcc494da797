#include "core/platform/registry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A private key under HKCU, removed with everything below it after each test.
class registryTest : public ::testing::Test {
protected:
    const std::wstring root = L"Software\\TavolinTest" + std::to_wstring(GetCurrentProcessId());
    void TearDown() override { removeTree(HKEY_CURRENT_USER, root); }

    static void removeTree(HKEY parent, const std::wstring& name)
    {
        HKEY key;
        if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
        wchar_t child[256];
        DWORD size = 256;
        while (RegEnumKeyExW(key, 0, child, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            removeTree(key, child);
            size = 256;
        }
        RegCloseKey(key);
        RegDeleteKeyW(parent, name.c_str());
    }

    void setRaw(const std::wstring& name, DWORD type, const void* data, DWORD size)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, root.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
};

}  // namespace

TEST_F(registryTest, writeCreatesMissingKeysAndReadsBack)
{
    const std::wstring deep = root + L"\\a\\b";
    EXPECT_FALSE(registryKeyExists(HKEY_CURRENT_USER, deep));
    ASSERT_TRUE(writeRegistryDword(HKEY_CURRENT_USER, deep, L"autoStart", 0x12345678));
    EXPECT_TRUE(registryKeyExists(HKEY_CURRENT_USER, deep));
    DWORD value = 0;
    EXPECT_TRUE(readRegistryDword(HKEY_CURRENT_USER, deep, L"autoStart", value, 7));
    EXPECT_EQ(value, 0x12345678u);
    // The value is a real REG_DWORD.
    DWORD type = 0, size = 0;
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, deep.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    RegQueryValueExW(key, L"autoStart", nullptr, &type, nullptr, &size);
    RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
}

TEST_F(registryTest, missingKeyOrValueGivesTheDefault)
{
    DWORD value = 1;
    EXPECT_FALSE(readRegistryDword(HKEY_CURRENT_USER, root, L"none", value, 99));
    EXPECT_EQ(value, 99u);
    ASSERT_TRUE(writeRegistryDword(HKEY_CURRENT_USER, root, L"other", 1));
    value = 1;
    EXPECT_FALSE(readRegistryDword(HKEY_CURRENT_USER, root, L"none", value, 98));
    EXPECT_EQ(value, 98u);
}

TEST_F(registryTest, shortValueLeavesNoStrayBytesAndLongValueFails)
{
    const unsigned char twoBytes[] = {0x34, 0x12};
    setRaw(L"short", REG_BINARY, twoBytes, 2);
    DWORD value = 0xFFFFFFFF;
    EXPECT_TRUE(readRegistryDword(HKEY_CURRENT_USER, root, L"short", value, 0));
    EXPECT_EQ(value, 0x1234u);

    const wchar_t text[] = L"much longer than four bytes";
    setRaw(L"long", REG_SZ, text, sizeof text);
    value = 0;
    EXPECT_FALSE(readRegistryDword(HKEY_CURRENT_USER, root, L"long", value, 5));
    EXPECT_EQ(value, 5u);
}

TEST(copyBounded, cutsAndAlwaysTerminates)
{
    wchar_t buffer[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(copyBoundedW(buffer, L"abcdef", 0), 6u);
    EXPECT_EQ(buffer[0], L'x');
    EXPECT_EQ(copyBoundedW(buffer, L"abcdef", 1), 6u);
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_EQ(buffer[1], L'x');
    EXPECT_EQ(copyBoundedW(buffer, L"abcdef", 4), 6u);
    EXPECT_EQ(std::wstring(buffer), L"abc");
    EXPECT_EQ(copyBoundedW(buffer, L"ab", 4), 2u);
    EXPECT_EQ(std::wstring(buffer), L"ab");
}

TEST(sessionQualifiedName, appendsTheDecimalSessionId)
{
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_EQ(sessionQualifiedName(L"Tavolin版1.3号系"), L"Tavolin版1.3号系" + std::to_wstring(session));
}

namespace {

struct testWindows {
    HWND parent = nullptr;
    testWindows()
    {
        parent = CreateWindowExW(0, L"STATIC", L"parent", WS_OVERLAPPEDWINDOW, 100, 100, 400, 300, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~testWindows() { DestroyWindow(parent); }
    HWND child(const wchar_t* cls, DWORD style, int x, int y, int w, int h)
    {
        return CreateWindowExW(0, cls, L"", WS_CHILD | style, x, y, w, h, parent, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    }
};

std::wstring windowText(HWND window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
    return text;
}

}  // namespace

TEST(windowRectInParent, childRectangleInParentCoordinates)
{
    testWindows w;
    ASSERT_NE(w.parent, nullptr);
    HWND child = w.child(L"STATIC", 0, 10, 20, 30, 40);
    RECT rect;
    ASSERT_TRUE(windowRectInParent(child, rect));
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, 20);
    EXPECT_EQ(rect.right, 40);
    EXPECT_EQ(rect.bottom, 60);
    EXPECT_FALSE(windowRectInParent(w.parent, rect));
}

TEST(appendEditText, lineFeedsBecomeCrLfAndOldTextMakesRoom)
{
    testWindows w;
    HWND edit = w.child(L"EDIT", ES_MULTILINE | ES_AUTOVSCROLL, 0, 0, 200, 100);
    ASSERT_NE(edit, nullptr);
    SendMessageW(edit, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
    appendEditText(L"a\nb\n", edit, 65000);
    appendEditText(L"", edit, 65000);
    EXPECT_EQ(windowText(edit), L"a\r\nb\r\n");

    // 65001 characters in lines of 9 letters and CR LF; the cut at 43334 falls inside a line.
    std::wstring line = L"123456789\r\n";
    std::wstring text;
    while (text.size() + line.size() <= 65001) text += line;
    text += std::wstring(65001 - text.size(), L'z');
    ASSERT_EQ(text.size(), 65001u);
    SetWindowTextW(edit, text.c_str());
    appendEditText(L"new\n", edit, 65000);
    std::wstring after = windowText(edit);
    // 43334 = 3939 * 11 + 5: the cut line goes too, so the text starts at the next line.
    const size_t kept = 65001 - 3940 * 11;
    EXPECT_EQ(after, text.substr(3940 * 11) + L"new\r\n");
    EXPECT_EQ(after.size(), kept + 5);

    // Below the limit nothing is removed.
    SetWindowTextW(edit, L"x");
    appendEditText(L"y", edit, 1);
    EXPECT_EQ(windowText(edit), L"xy");
}

TEST(getDllVersion, versionOfASystemLibraryAndNothingForMissingOnes)
{
    DWORD version = getDllVersion(L"shlwapi.dll");
    EXPECT_GE(version >> 16, 5u);
    EXPECT_EQ(getDllVersion(L"tvnNoSuchLibrary.dll"), 0u);
    EXPECT_EQ(getDllVersion(L"kernel32.dll"), 0u);  // has no DllGetVersion
}
