#include "core/platform/platform.h"

#include <vector>

namespace {

OSVERSIONINFOW askVersion()
{
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    // Windows 98/Me do not implement GetVersionExW, and the Unicode build asks there too (its
    // hand-over to the ANSI build): the narrow form answers on every platform.
    OSVERSIONINFOA narrow;
    ZeroMemory(&narrow, sizeof narrow);
    narrow.dwOSVersionInfoSize = sizeof narrow;
    BOOL ok = GetVersionExA(&narrow);
    if (ok) {
        version.dwMajorVersion = narrow.dwMajorVersion;
        version.dwMinorVersion = narrow.dwMinorVersion;
        version.dwBuildNumber = narrow.dwBuildNumber;
        version.dwPlatformId = narrow.dwPlatformId;
        MultiByteToWideChar(CP_ACP, 0, narrow.szCSDVersion, -1, version.szCSDVersion,
                            sizeof version.szCSDVersion / sizeof version.szCSDVersion[0]);
    }
    if (!ok) {
        MessageBoxW(nullptr, L"GetVersionExの呼び出しに失敗しました。", L"Orvessa/Tavolin", MB_ICONWARNING);
        ZeroMemory(&version, sizeof version);
    }
    return version;
}

// Where the next character starts. CP932 characters may be two bytes, the second of which can
// look like a backslash or any other ASCII sign.
size_t nextChar(const tstring& text, size_t i)
{
#ifdef TVN_ANSI
    const char* p = text.c_str() + i;
    const char* next = CharNextExA(932, p, 0);
    size_t step = static_cast<size_t>(next - p);
    return i + (step == 0 ? 1 : step);
#else
    return i + 1;
#endif
}

size_t lastBackslash(const tstring& text)
{
    size_t found = tstring::npos;
    for (size_t i = 0; i < text.size(); i = nextChar(text, i))
        if (text[i] == TEXT('\\')) found = i;
    return found;
}

bool endsWithBackslash(const tstring& text)
{
    size_t last = lastBackslash(text);
    return last != tstring::npos && last + 1 == text.size();
}

bool isDirectory(const tstring& path)
{
    DWORD attributes = GetFileAttributes(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool createDirectoryHere(const tstring& path)
{
    if (CreateDirectory(path.c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && isDirectory(path);
}

tstring environmentVariable(const TCHAR* name)
{
    DWORD size = GetEnvironmentVariable(name, nullptr, 0);
    if (size == 0) return tstring();
    std::vector<TCHAR> buffer(size + 1, 0);
    DWORD got = GetEnvironmentVariable(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (got == 0 || got >= buffer.size()) return tstring();
    return tstring(buffer.data(), got);
}

}  // namespace

const OSVERSIONINFOW& getOsVersion()
{
    static const OSVERSIONINFOW version = askVersion();
    return version;
}

bool isWinNT(const OSVERSIONINFOW& v) { return v.dwPlatformId == VER_PLATFORM_WIN32_NT; }
bool isWin2000OrLater(const OSVERSIONINFOW& v) { return isWinNT(v) && v.dwMajorVersion > 4; }
bool isWinXPOrLater(const OSVERSIONINFOW& v)
{
    return isWinNT(v) && (v.dwMajorVersion > 5 || (v.dwMajorVersion == 5 && v.dwMinorVersion >= 1));
}
bool isWin9x(const OSVERSIONINFOW& v)
{
    return v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && v.dwMajorVersion > 3;
}

std::string programFolderAnsi()
{
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    // Walked by character: the second byte of a double-byte character may be 0x5C.
    const char* last = nullptr;
    for (const char* at = path; *at; at = CharNextA(at)) {
        if (*at == '\\') last = at;
    }
    return last ? std::string(path, static_cast<size_t>(last - path)) : std::string();
}

bool isWinNT() { return isWinNT(getOsVersion()); }
bool isWin2000OrLater() { return isWin2000OrLater(getOsVersion()); }
bool isWinXPOrLater() { return isWinXPOrLater(getOsVersion()); }
bool isWin9x() { return isWin9x(getOsVersion()); }

tstring directoryOf(const tstring& path)
{
    size_t last = lastBackslash(path);
    return last == tstring::npos ? tstring() : path.substr(0, last);
}

tstring fileNameOf(const tstring& path)
{
    const DWORD capacity = 261;
    TCHAR buffer[capacity];
    TCHAR* filePart = nullptr;
    DWORD length = GetFullPathName(path.c_str(), capacity, buffer, &filePart);
    if (length == 0 || length >= capacity || !filePart || !*filePart) return tstring();
    return tstring(filePart);
}

tstring relativePath(const tstring& base, const tstring& path)
{
    if (path == base) return tstring();
    if (path.size() > base.size() && path.compare(0, base.size(), base) == 0 &&
        path[base.size()] == TEXT('\\'))
        return path.substr(base.size() + 1);
    return path;
}

tstring joinPath(const tstring& dir, const tstring& name)
{
    if (name.empty()) return dir;
    if (dir.empty()) return name;
    if (name[0] == TEXT('\\') || name.find(TEXT(':')) != tstring::npos) return name;
    if (endsWithBackslash(dir)) return dir + name;
    return dir + TEXT('\\') + name;
}

bool createDirectoryRecursive(const tstring& path, bool parentOnly)
{
    const tstring folder = parentOnly ? directoryOf(path) : path;
    if (folder.empty()) return false;
    if (CreateDirectory(folder.c_str(), nullptr)) return true;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return isDirectory(folder);
    if (error != ERROR_PATH_NOT_FOUND) return false;
    if (!createDirectoryRecursive(folder, true)) return false;
    // A path ending in a backslash names the parent just made: that counts as made too.
    return createDirectoryHere(folder);
}

tstring escapeForFileName(const tstring& text)
{
    static const TCHAR escaped[] = TEXT("\\/:,;*?\"<>|%");
    tstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t next = nextChar(text, i);
        if (next == i + 1 && tstring(escaped).find(text[i]) != tstring::npos) {
            TCHAR code[8];
            wsprintf(code, TEXT("%%%u"), static_cast<unsigned>(text[i]));
            out += code;
        } else {
            out.append(text, i, next - i);
        }
        i = next;
    }
    return out;
}

tstring programPath()
{
    const DWORD capacity = 260;
    TCHAR buffer[capacity];
    DWORD length = GetModuleFileName(nullptr, buffer, capacity);
    // A path that fills the buffer was cut (and may lack its terminator).
    if (length == 0 || length >= capacity) return tstring();
    tstring path(buffer, length);
#ifdef TVN_ANSI
    typedef DWORD(WINAPI * longPathFn)(LPCSTR, LPSTR, DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    longPathFn longPath =
        kernel ? reinterpret_cast<longPathFn>(GetProcAddress(kernel, "GetLongPathNameA")) : nullptr;
    if (!longPath) return path;
#else
    auto longPath = GetLongPathNameW;
#endif
    DWORD needed = longPath(path.c_str(), nullptr, 0);
    if (needed == 0) return path;
    std::vector<TCHAR> longForm(needed + 1, 0);
    DWORD got = longPath(path.c_str(), longForm.data(), static_cast<DWORD>(longForm.size()));
    if (got == 0 || got >= longForm.size()) return path;
    return tstring(longForm.data(), got);
}

void setCurrentDirectoryToProgramFolder()
{
    SetCurrentDirectory(directoryOf(programPath()).c_str());
}

tstring userIniPath(const tstring& prefix, const tstring& folder)
{
    TCHAR user[257];
    DWORD size = 257;
    tstring name = GetUserName(user, &size) ? escapeForFileName(user) : tstring(TEXT("GetUserNameError"));
    const tstring fileName = prefix + name + TEXT(".ini");
    const tstring candidate = joinPath(folder, fileName);
    HANDLE file = CreateFile(candidate.c_str(), 0, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return candidate;
    }
    // HOMEPATH alone has no drive and would name a folder on whatever drive is current.
    const tstring home = environmentVariable(TEXT("HOMEDRIVE")) + environmentVariable(TEXT("HOMEPATH"));
    return joinPath(home, fileName);
}
