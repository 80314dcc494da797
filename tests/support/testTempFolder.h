// A fresh, empty folder for one test, removed with everything in it afterwards.
#pragma once

#include <string>

class testTempFolder {
public:
    testTempFolder();
    ~testTempFolder();
    testTempFolder(const testTempFolder&) = delete;
    testTempFolder& operator=(const testTempFolder&) = delete;

    const std::wstring& path() const { return m_path; }
    // path() + "\" + name
    std::wstring file(const std::wstring& name) const;

    // Helpers that work on bytes exactly, independent of the code under test.
    static void writeBytes(const std::wstring& path, const std::string& bytes);
    static std::string readBytes(const std::wstring& path);
    static bool exists(const std::wstring& path);
    // Copies a folder with everything in it.
    static void copyTree(const std::wstring& from, const std::wstring& to);
    // Names of the entries of a folder, "." and ".." left out, sorted.
    static std::wstring listing(const std::wstring& folder);

private:
    std::wstring m_path;
};
