#include "testTempFolder.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <vector>

namespace {

void removeTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = folder + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(full);
            } else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

testTempFolder::testTempFolder()
{
    static std::atomic<int> counter{0};
    wchar_t base[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH, base);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("no temp folder");
    std::wstring root(base);
    if (!root.empty() && root.back() == L'\\') root.pop_back();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::wstring candidate = root + L"\\tvnTest" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                 std::to_wstring(counter++);
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temp folder");
}

testTempFolder::~testTempFolder() { removeTree(m_path); }

std::wstring testTempFolder::file(const std::wstring& name) const { return m_path + L"\\" + name; }

void testTempFolder::writeBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create test file");
    DWORD written = 0;
    BOOL ok = bytes.empty() ||
              WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    if (!ok || (!bytes.empty() && written != bytes.size()))
        throw std::runtime_error("cannot write test file");
}

std::string testTempFolder::readBytes(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open test file");
    std::string out;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
    CloseHandle(h);
    return out;
}

bool testTempFolder::exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring testTempFolder::listing(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name != L"." && name != L"..") names.push_back(name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    std::sort(names.begin(), names.end());
    std::wstring out;
    for (const auto& name : names) out += (out.empty() ? L"" : L",") + name;
    return out;
}

void testTempFolder::copyTree(const std::wstring& from, const std::wstring& to)
{
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) copyTree(from + L"\\" + name, to + L"\\" + name);
        else CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}
