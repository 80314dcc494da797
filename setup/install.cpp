#include "setup/install.h"

#include "core/platform/errors.h"
#include "core/platform/japaneseText.h"
#include "core/platform/platform.h"
#include "core/platform/tstring.h"
#include "core/settings/versionInfo.h"
#include "setup/deferredDeletion.h"
#include "setup/setupSystem.h"
#include "setup/wholeFile.h"

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>

const TCHAR uninstallListName[] = TEXT("Uninstar.dat");
const TCHAR productKey[] = TEXT("Software\\Brannoch\\Tavolin13");
const TCHAR installDirValue[] = TEXT("InstallDir");
const TCHAR uninstallKey[] = TEXT("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\brannochTvn13");
const TCHAR defaultSubfolder[] = TEXT("Brannoch\\Tavolin13");
const TCHAR mainProgramName[] = TEXT("TavolinXP.exe");
const TCHAR removalProgramName[] = TEXT("Tavolinの撤去Xp.exe");
const TCHAR ansiTwinName[] = TEXT("Tavolinの撤去Me.exe");
const TCHAR readMeName[] = TEXT("ご利用の前に.txt");
const TCHAR startMenuFolderName[] = TEXT("Tavolin 1.3+");
const TCHAR mainShortcutName[] = TEXT("Tavolin1.3+.lnk");
const TCHAR manualShortcutName[] = TEXT("Tavolinの説明書.lnk");
const TCHAR manualName[] = TEXT("説明書.html");
const TCHAR mainWindowClass[] = TEXT("orvessaTasktray");
const TCHAR journalName[] = TEXT("Uninstar.tvj");

namespace {

const TCHAR publisherName[] = TEXT("Brannoch");

bool isAbsoluteEntry(const tstring& entry)
{
    return (!entry.empty() && entry[0] == TEXT('\\')) || entry.find(TEXT(':')) != tstring::npos;
}

// "/" read as "\". "/" never occurs as a CP932 trail byte, so the bytes can be replaced as they
// stand.
tstring backslashed(tstring path)
{
    std::replace(path.begin(), path.end(), TEXT('/'), TEXT('\\'));
    return path;
}

// The full path, "." and ".." resolved; empty on failure.
tstring fullPathOf(const tstring& path)
{
    const DWORD size = GetFullPathName(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return tstring();
    std::vector<TCHAR> buffer(size + 1, 0);
    const DWORD length = GetFullPathName(path.c_str(), size + 1, buffer.data(), nullptr);
    if (length == 0 || length > size) return tstring();
    return tstring(buffer.data(), length);
}

bool isBlank(const tstring& line)
{
    return std::all_of(line.begin(), line.end(), [](TCHAR c) { return static_cast<unsigned>(c) <= 0x20; });
}

// Written beside the list and swapped in: a write that fails leaves the old list as it was.
bool writeUninstallList(setupSystem& system, const tstring& destination, const std::wstring& text)
{
    const std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    if (replaceWholeFile(system, uninstallListNames(destination), bytes)) return true;
    const DWORD error = GetLastError();
    const bool cutShort = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == ERROR_WRITE_FAULT;
    system.messageBox(nullptr,
                      cutShort ? TEXT("撤去情報の設置が不完全な状態で失敗しました。")
                               : TEXT("撤去情報の設置に失敗しました。書き込むことができませんでした。"),
                      TEXT("Tavolin設置作業"), MB_ICONWARNING);
    SetLastError(error);
    return false;
}

bool exists(const tstring& path)
{
    return GetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Well-formed UTF-8 (no overlong forms, surrogates or code points above U+10FFFF). Checked here
// rather than by the conversion, which older systems do not check for UTF-8.
bool isUtf8(const std::string& bytes)
{
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char lead = bytes[i];
        size_t more = 0;
        unsigned long code = 0, least = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            more = 1, code = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            more = 2, code = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            more = 3, code = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (bytes.size() - i <= more) return false;
        for (size_t k = 1; k <= more; ++k) {
            const unsigned char next = bytes[i + k];
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += more + 1;
    }
    return true;
}

std::wstring decoded(UINT codePage, const std::string& bytes, DWORD flags)
{
    if (bytes.empty()) return std::wstring();
    const int size = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring text(size, L'\0');
    text.resize(MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), &text[0], size));
    return text;
}

// One line of a list in UTF-8 or CP932; a line that does not decode cleanly is marked.
std::wstring decodedLine(UINT codePage, const std::string& line)
{
    const bool clean = codePage == CP_UTF8 ? isUtf8(line)
                                           : line.empty() || !decoded(codePage, line, MB_ERR_INVALID_CHARS).empty();
    const std::wstring text = decoded(codePage, line, 0);
    return clean ? text : unreadableLineMark + text;
}

// What a take-back that failed leaves: the files that the restart will delete, and how to get
// them back. Empty when nothing is left.
tstring stillScheduledNote(const std::vector<tstring>& files)
{
    if (files.empty()) return tstring();
    const DWORD error = GetLastError();
    tstring note = TEXT("\n\n次のファイルの再起動時の削除を取り消せませんでした。再起動で削除されますので、")
                   TEXT("再起動の後にもう一度設置を行ってください。");
    for (const tstring& file : files) note += TEXT("\n") + file;
    return note + TEXT("\n") + systemErrorTextT(error);
}

// Every value is written, also after one that failed; answers the note naming those that failed,
// empty when all were written.
tstring writeRegistryEntries(setupSystem& system, const tstring& destination)
{
    const tstring productWebPage = toT(productSiteAddress);
    const struct {
        const TCHAR* key;
        const TCHAR* value;
        tstring text;
    } entries[] = {
        {productKey, installDirValue, destination},
        {uninstallKey, TEXT("DisplayIcon"), joinPath(destination, mainProgramName)},
        {uninstallKey, TEXT("DisplayName"), TEXT("Tavolin 版1.3000号以降")},
        {uninstallKey, TEXT("DisplayVersion"), TEXT("版1.3007号 構築#062")},
        {uninstallKey, TEXT("HelpLink"), productWebPage},
        {uninstallKey, TEXT("Publisher"), publisherName},
        // Quoted, or Windows tries the folder's words as programs first ("C:\Program.exe").
        {uninstallKey, TEXT("UninstallString"), TEXT("\"") + joinPath(destination, removalProgramName) + TEXT("\"")},
        {uninstallKey, TEXT("URLInfoAbout"), productWebPage},
        {uninstallKey, TEXT("URLUpdateInfo"), productWebPage},
    };
    tstring failed;
    DWORD error = 0;
    for (const auto& entry : entries) {
        if (!system.writeRegistryValue(entry.key, entry.value, entry.text)) {
            error = GetLastError();
            failed += TEXT("\n") + tstring(entry.key) + TEXT("\\") + entry.value;
        }
    }
    if (failed.empty()) return tstring();
    return TEXT("\n\n次の登録を書き込めませんでした。") + failed + TEXT("\n") +
           systemErrorTextT(error);
}

void saveShortcut(IPersistFile* file, const tstring& path)
{
    file->Save(fromT(path).c_str(), TRUE);
}

// One shell-link object, reused for the three shortcuts. Save failures are not checked: a missing
// shortcut does not make the installation fail.
void writeShortcuts(setupSystem& system, const tstring& destination)
{
    IShellLink* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLink,
                                reinterpret_cast<void**>(&link))))
        return;
    IPersistFile* file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        link->Release();
        return;
    }
    const tstring programs = system.specialFolderPath(CSIDL_COMMON_PROGRAMS);
    const tstring menuFolder = joinPath(programs, startMenuFolderName);
    link->SetPath(joinPath(destination, mainProgramName).c_str());
    link->SetArguments(TEXT(""));
    link->SetShowCmd(SW_SHOWMINNOACTIVE);
    link->SetWorkingDirectory(destination.c_str());
    link->SetDescription(TEXT("キー入力入れ替えソフト"));
    // Without the Programs folder a relative name would land in the current folder.
    if (!programs.empty()) {
        createDirectoryRecursive(system, menuFolder, false);
        saveShortcut(file, joinPath(menuFolder, mainShortcutName));
    }

    link->SetArguments(TEXT("-S"));
    const tstring startup = system.specialFolderPath(CSIDL_COMMON_STARTUP);
    if (!startup.empty()) saveShortcut(file, joinPath(startup, mainShortcutName));

    link->SetPath(joinPath(destination, manualName).c_str());
    link->SetArguments(TEXT(""));
    link->SetDescription(TEXT(""));
    if (!programs.empty()) saveShortcut(file, joinPath(menuFolder, manualShortcutName));
    file->Release();
    link->Release();
}

}  // namespace

wholeFileNames uninstallListNames(const tstring& destination)
{
    const tstring path = joinPath(destination, uninstallListName);
    return {path, joinPath(destination, TEXT("Uninstar.tvn")), joinPath(destination, TEXT("Uninstar.tvo"))};
}

void makeWritable(const tstring& path)
{
    const DWORD attributes = GetFileAttributes(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributes(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
}

bool createDirectoryRecursive(setupSystem& system, const tstring& path, bool takeDirectoryPart)
{
    const tstring folder = takeDirectoryPart ? directoryOf(path) : path;
    if (folder.empty()) return false;
    if (system.createDirectory(folder)) return true;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return true;
    if (error != ERROR_PATH_NOT_FOUND) return false;
    // Up to the root and no further: a drive that does not exist makes nothing at all.
    const tstring parent = directoryOf(folder);
    if (parent.empty() || parent == folder) {
        SetLastError(error);
        return false;
    }
    if (!createDirectoryRecursive(system, parent, false)) return false;
    return system.createDirectory(folder) || GetLastError() == ERROR_ALREADY_EXISTS;
}

tstring defaultBaseFolder(setupSystem& system, bool perUser)
{
    if (system.isAdministratorOrPowerUser() && !perUser) return system.specialFolderPath(CSIDL_PROGRAM_FILES);
    tstring documents = system.specialFolderPath(CSIDL_PERSONAL);
    return documents.empty() ? system.specialFolderPath(CSIDL_DESKTOPDIRECTORY) : documents;
}

tstring readRegistryString(HKEY root, const tstring& key, const tstring& value)
{
    HKEY handle = nullptr;
    if (RegOpenKeyEx(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return tstring();
    DWORD size = 0;
    tstring text;
    if (RegQueryValueEx(handle, value.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size > 0) {
        std::vector<TCHAR> buffer(size / sizeof(TCHAR) + 1, 0);
        if (RegQueryValueEx(handle, value.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                            &size) == ERROR_SUCCESS) {
            text.assign(buffer.data(), std::min<size_t>(size / sizeof(TCHAR), buffer.size()));
            const size_t nul = text.find(TCHAR(0));
            if (nul != tstring::npos) text.resize(nul);
        }
    }
    RegCloseKey(handle);
    return text;
}

bool writeRegistryString(HKEY root, const tstring& key, const tstring& value, const tstring& text)
{
    HKEY handle = nullptr;
    const LONG opened = RegCreateKeyEx(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                       &handle, nullptr);
    if (opened != ERROR_SUCCESS) {
        SetLastError(opened);
        return false;
    }
    const LONG result = RegSetValueEx(handle, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                      static_cast<DWORD>((text.size() + 1) * sizeof(TCHAR)));
    RegCloseKey(handle);
    SetLastError(result);
    return result == ERROR_SUCCESS;
}

tstring systemErrorTextT(DWORD code)
{
    return toT(systemErrorText(code));
}

void showErrorBox(setupSystem& system, const tstring& text, const tstring& caption, DWORD code)
{
    system.messageBox(nullptr, text + systemErrorTextT(code), caption, MB_OK);
}

std::wstring readUninstallList(const tstring& folder, bool* readable)
{
    std::string bytes;
    const bool ok = readWholeFile(joinPath(folder, uninstallListName), bytes);
    if (readable) *readable = ok;
    return ok ? uninstallListText(bytes) : std::wstring();
}

std::wstring uninstallListText(const std::string& bytes)
{
    // A list edited and saved by a text editor: with a byte-order mark (UTF-16 either way, or
    // UTF-8), or as UTF-8 or CP932 text, which hold no zero byte, where the list as installed has
    // one in every character of its line ends. Editors save UTF-8 without a mark by default, and
    // Japanese CP932 text is hardly ever valid UTF-8: UTF-8 is tried first.
    const auto startsWith = [&](const char* mark) { return bytes.compare(0, strlen(mark), mark) == 0; };
    const bool littleEndian = startsWith("\xFF\xFE"), bigEndian = startsWith("\xFE\xFF");
    const bool utf8Mark = startsWith("\xEF\xBB\xBF");
    std::wstring text;
    if (utf8Mark || (!littleEndian && !bigEndian && bytes.find('\0') == std::string::npos)) {
        const std::string body = utf8Mark ? bytes.substr(3) : bytes;
        const UINT codePage = utf8Mark || isUtf8(body) ? CP_UTF8 : 932;
        for (size_t start = 0; start < body.size();) {
            const size_t newline = body.find('\n', start);
            const size_t end = newline == std::string::npos ? body.size() : newline + 1;
            text += decodedLine(codePage, body.substr(start, end - start));
            start = end;
        }
    } else {
        // A last odd byte is no character: it is left out.
        for (size_t i = littleEndian || bigEndian ? 2 : 0; i + 1 < bytes.size(); i += 2) {
            const unsigned char first = bytes[i], second = bytes[i + 1];
            text += static_cast<wchar_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
        }
    }
    const size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos) text.resize(nul);
    return text;
}

tstring trimTrailingControlChars(const tstring& text)
{
    size_t end = text.size();
    while (end > 0 && static_cast<unsigned>(static_cast<std::make_unsigned<TCHAR>::type>(text[end - 1])) < 0x20) --end;
    return text.substr(0, end);
}

std::vector<tstring> uninstallListLines(const std::wstring& text, std::vector<std::wstring>* unreadable)
{
    std::vector<tstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && line[line.size() - 1] < 0x20) line.erase(line.size() - 1);
        const tstring entry = toT(line);
        if (isBlank(entry)) continue;
        // The ANSI build holds CP932 text: a character it lacks would name another file.
        if (line.find(unreadableLineMark) != std::wstring::npos || fromT(entry) != line) {
            if (unreadable) unreadable->push_back(line);
        } else {
            lines.push_back(entry);
        }
    }
    return lines;
}

std::vector<tstring> listFilesRecursive(const tstring& folder)
{
    std::vector<tstring> entries;
    WIN32_FIND_DATA data;
    HANDLE find = FindFirstFile(joinPath(folder, TEXT("*")).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
        const tstring name = data.cFileName;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            entries.push_back(name);
        } else if (name[0] != TEXT('.')) {
            for (const tstring& inner : listFilesRecursive(joinPath(folder, name))) {
                entries.push_back(name + TEXT("\\") + inner);
            }
        }
    } while (FindNextFile(find, &data));
    FindClose(find);
    return entries;
}

tstring listedPathInside(const tstring& folder, const tstring& entry)
{
    // A leading "/" roots the entry as a leading "\" does.
    const tstring path = fullPathOf(joinPath(backslashed(folder), backslashed(entry)));
    // Compared as wide text, so the cut falls between characters: a CP932 character may end in a
    // backslash byte.
    std::wstring prefix = fromT(fullPathOf(backslashed(folder)));
    const std::wstring widePath = fromT(path);
    if (prefix.empty() || widePath.empty()) return tstring();
    if (prefix[prefix.size() - 1] != L'\\') prefix += L'\\';
    if (widePath.size() <= prefix.size()) return tstring();
    if (lstrcmpi(toT(widePath.substr(0, prefix.size())).c_str(), toT(prefix).c_str()) != 0) return tstring();
    return path;
}

tstring mergeUninstallList(const tstring& destination, const std::vector<tstring>& copied, std::vector<tstring> old)
{
    tstring list;
    for (const tstring& entry : copied) {
        auto same = std::find(old.begin(), old.end(), entry);
        if (same != old.end()) old.erase(same);
        list += entry + TEXT("\r\n");
    }
    // A damaged or crafted list must not lead a later removal out of the product folder, and a
    // list an earlier setup wrote may name the users' settings, which a removal must leave.
    for (const tstring& entry : old) {
        if (isBlank(entry)) continue;
        const tstring path = listedPathInside(destination, entry);
        if (!path.empty() && !isUsersSettingsFile(destination, path)) list += entry + TEXT("\r\n");
    }
    return list;
}

bool isUsersSettingsFile(const tstring& folder, const tstring& path)
{
    const tstring name = fileNameOf(path);
    const tstring prefix = TEXT("tvn-"), suffix = TEXT(".ini");
    if (name.size() <= prefix.size() + suffix.size() ||
        lstrcmpi(name.substr(0, prefix.size()).c_str(), prefix.c_str()) != 0 ||
        lstrcmpi(name.substr(name.size() - suffix.size()).c_str(), suffix.c_str()) != 0)
        return false;
    // Only beside the program: a file of that name in a folder below it is no user's settings.
    tstring parent = fullPathOf(path.substr(0, path.size() - name.size()));
    tstring own = fullPathOf(backslashed(folder));
    while (!parent.empty() && parent[parent.size() - 1] == TEXT('\\')) parent.erase(parent.size() - 1);
    while (!own.empty() && own[own.size() - 1] == TEXT('\\')) own.erase(own.size() - 1);
    return !own.empty() && lstrcmpi(parent.c_str(), own.c_str()) == 0;
}

namespace {

// The full, long form of a path without a trailing separator: a folder typed with a trailing
// backslash, or reached by its short name, reads as itself.
tstring wholeName(const tstring& path)
{
    tstring full = fullPathOf(backslashed(path));
    const tstring longer = full.empty() ? tstring() : longPathOf(full);
    if (!longer.empty()) full = longer;
    // Cut as wide text: a CP932 character may end in a backslash byte. A drive's root keeps its own.
    std::wstring wide = fromT(full);
    while (wide.size() > 3 && wide[wide.size() - 1] == L'\\') wide.erase(wide.size() - 1);
    return toT(wide);
}

// The file or folder open for its identity only. A folder needs backup semantics; Windows 98/Me,
// where the ANSI build runs, open no folder at all, and there the names decide.
HANDLE openForIdentity(const tstring& path)
{
    const DWORD folders = sizeof(TCHAR) == 1 ? 0 : FILE_FLAG_BACKUP_SEMANTICS;
    return CreateFile(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                      folders, nullptr);
}

// The path the system itself gives the open file (Windows Vista and later, bound late); empty
// where it can't tell.
tstring finalPathOf(HANDLE file)
{
    typedef DWORD(WINAPI * finalPathName)(HANDLE, LPTSTR, DWORD, DWORD);
#ifdef UNICODE
    const char* const name = "GetFinalPathNameByHandleW";
#else
    const char* const name = "GetFinalPathNameByHandleA";
#endif
    const auto call = reinterpret_cast<finalPathName>(GetProcAddress(GetModuleHandle(TEXT("kernel32.dll")), name));
    if (!call) return tstring();
    TCHAR buffer[1024];
    const DWORD length = call(file, buffer, 1024, 0);
    return length == 0 || length >= 1024 ? tstring() : tstring(buffer, length);
}

}  // namespace

bool isSameFile(const tstring& a, const tstring& b)
{
    const tstring nameA = wholeName(a), nameB = wholeName(b);
    if (!nameA.empty() && lstrcmpi(nameA.c_str(), nameB.c_str()) == 0) return true;
    // The same file may be reached by two names (a drive letter and a network path or another
    // drive mapped onto the same folder, say): the file system's own identity decides.
    HANDLE fileA = openForIdentity(a);
    HANDLE fileB = openForIdentity(b);
    bool same = false;
    if (fileA != INVALID_HANDLE_VALUE && fileB != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION infoA{}, infoB{};
        if (GetFileInformationByHandle(fileA, &infoA) && GetFileInformationByHandle(fileB, &infoB))
            same = infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
                   infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
        // Wine gives each drive a serial of its own, also where two drives reach one folder.
        if (!same) {
            const tstring finalA = finalPathOf(fileA);
            same = !finalA.empty() && lstrcmpi(finalA.c_str(), finalPathOf(fileB).c_str()) == 0;
        }
    }
    if (fileA != INVALID_HANDLE_VALUE) CloseHandle(fileA);
    if (fileB != INVALID_HANDLE_VALUE) CloseHandle(fileB);
    return same;
}

namespace {

// The path relative to the folder of a full path inside it, as a list line names it; empty for
// one outside.
tstring relativeInside(const tstring& folder, const tstring& path)
{
    std::wstring prefix = fromT(fullPathOf(backslashed(folder)));
    const std::wstring wide = fromT(path);
    if (prefix.empty()) return tstring();
    if (prefix[prefix.size() - 1] != L'\\') prefix += L'\\';
    if (wide.size() <= prefix.size() || lstrcmpi(toT(wide.substr(0, prefix.size())).c_str(), toT(prefix).c_str()) != 0)
        return tstring();
    return toT(wide.substr(prefix.size()));
}

bool isAsideName(const std::wstring& aside, const std::wstring& target)
{
    if (aside.size() < target.size() + 2 || aside.size() > target.size() + 3 ||
        lstrcmpi(toT(aside.substr(0, target.size())).c_str(), toT(target).c_str()) != 0 || aside[target.size()] != L'.')
        return false;
    return std::all_of(aside.begin() + target.size() + 1, aside.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

}  // namespace

std::vector<journalEntry> readJournal(const tstring& folder)
{
    std::vector<journalEntry> entries;
    std::string bytes;
    if (!readWholeFile(joinPath(folder, journalName), bytes)) return entries;
    const std::wstring text = uninstallListText(bytes);
    // Only whole lines: the last one may have been cut short by a run ended while writing it.
    for (size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line[line.size() - 1] == L'\r') line.erase(line.size() - 1);
        if (line == L"*") {
            for (journalEntry& entry : entries) entry.closed = true;
            continue;
        }
        const size_t tab = line.find(L'\t');
        if (tab == std::wstring::npos) continue;
        const std::wstring target = line.substr(0, tab), aside = line.substr(tab + 1);
        if (fromT(toT(line)) != line || (!aside.empty() && !isAsideName(aside, target))) continue;
        journalEntry entry{listedPathInside(folder, toT(target)), tstring(), false};
        if (!aside.empty()) entry.aside = listedPathInside(folder, toT(aside));
        if (!entry.target.empty() && (aside.empty() || !entry.aside.empty())) entries.push_back(entry);
    }
    return entries;
}

bool appendJournal(setupSystem& system, const tstring& folder, const tstring& line)
{
    const std::wstring text = fromT(line) + L"\r\n";
    return system.appendFile(joinPath(folder, journalName),
                             std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
}

tstring putAsideNoted(setupSystem& system, const tstring& folder, const tstring& path)
{
    const tstring relative = relativeInside(folder, path);
    if (relative.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return tstring();
    }
    for (int n = 0; n < 100; ++n) {
        const tstring suffix = TEXT(".") + toT(std::to_wstring(n));
        const tstring aside = path + suffix;
        if (exists(aside)) continue;
        if (!appendJournal(system, folder, relative + TEXT("\t") + relative + suffix)) return tstring();
        if (system.moveFile(path, aside)) return aside;
        // Only a name that is taken makes the next one worth a try.
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return tstring();
    }
    SetLastError(ERROR_ALREADY_EXISTS);
    return tstring();
}

tstring installedPath(const tstring& destination, const tstring& entry)
{
    return fullPathOf(joinPath(destination, isAbsoluteEntry(entry) ? fileNameOf(entry) : entry));
}

int installFile(setupSystem& system, const tstring& setupFolder, const tstring& entry, const tstring& destination,
                tstring* aside)
{
    aside->clear();
    const tstring target = installedPath(destination, entry);
    const tstring source = joinPath(setupFolder, entry);
    if (!createDirectoryRecursive(system, target, true)) return 1;
    // The installed copy run as its own setup: copying a file onto itself would fail and then
    // put the only copy aside.
    if (isSameFile(source, target)) return 0;
    // The old file is renamed, never written over: a copy that fails part way (a full disk, a
    // setup folder that goes away) would leave neither file. A running program's file can still
    // be renamed, and a read-only one too, which keeps its attribute for a rollback. Each is
    // written down first, for the next run to undo what an ended run did.
    if (exists(target)) {
        *aside = putAsideNoted(system, destination, target);
        if (aside->empty()) return 2;
    } else if (!appendJournal(system, destination, relativeInside(destination, target) + TEXT("\t"))) {
        return 4;
    }
    // Copied, not moved, so the setup folder stays whole and can install again.
    if (system.copyFile(source, target)) return 0;
    const DWORD error = GetLastError();
    // What was written of the new file goes, and the old file comes back under its name.
    const bool cleared = system.deleteFile(target) || !exists(target);
    const int code = aside->empty() ? 4 : 3;
    if (cleared && !aside->empty() && system.moveFile(*aside, target)) aside->clear();
    SetLastError(error);
    return code;
}

namespace {

// An old file put aside, now that the new one is in place: deleted, or when it is still in use,
// deleted at the restart; false when neither could be done (it then stays until the next setup or
// removal, which find it in the removal list).
bool disposeOfOldFile(setupSystem& system, const tstring& aside)
{
    if (!exists(aside)) return true;
    makeWritable(aside);
    return system.deleteFile(aside) || deleteAtNextRestart(system, aside);
}

// What a run ended part way left, made right before anything else: every file it wrote down
// in a set it did not close goes back to its old self, newest first (the new file goes, the old one
// comes back under its name). Answers the files that stay wrong; the old files put aside of closed
// sets, which are to go, are added to `asides` as list lines.
tstring undoEndedRun(setupSystem& system, const tstring& destination, const std::vector<journalEntry>& journal,
                     std::vector<tstring>& asides)
{
    tstring notBack;
    DWORD error = 0;
    for (auto it = journal.rbegin(); it != journal.rend(); ++it) {
        if (it->closed) {
            if (!it->aside.empty() && exists(it->aside)) asides.push_back(relativeInside(destination, it->aside));
            continue;
        }
        // Never renamed, or already back.
        if (!it->aside.empty() && !exists(it->aside)) continue;
        if (exists(it->target) && !system.deleteFile(it->target)) {
            error = GetLastError();
            notBack += TEXT("\n") + it->target;
        } else if (!it->aside.empty() && !system.moveFile(it->aside, it->target)) {
            error = GetLastError();
            notBack += TEXT("\n") + it->aside;
        }
    }
    SetLastError(error);
    return notBack;
}

// The list lines that name an old file put aside ("<line>.<n>" of another line or of a file of
// this run), which stayed because it could be neither deleted nor booked.
std::vector<tstring> listedAsides(const std::vector<tstring>& old, const std::vector<tstring>& copied)
{
    std::vector<tstring> asides;
    for (const tstring& line : old) {
        for (const std::vector<tstring>* names : {&old, &copied}) {
            if (std::any_of(names->begin(), names->end(),
                            [&](const tstring& name) { return isAsideName(fromT(line), fromT(name)); })) {
                asides.push_back(line);
                break;
            }
        }
    }
    return asides;
}

bool isListFile(const tstring& entry)
{
    for (const TCHAR* name : {uninstallListName, TEXT("Uninstar.tvn"), TEXT("Uninstar.tvo"), journalName}) {
        if (lstrcmpi(entry.c_str(), name) == 0) return true;
    }
    return false;
}

}  // namespace

int runInstallation(setupSystem& system, const tstring& setupFolder)
{
    const bool wasRunning = system.findMainProgram() != nullptr;
    const bool administrator = system.isAdministratorOrPowerUser();
    installTarget target;
    target.baseFolder = defaultBaseFolder(system, false);
    target.subfolder = defaultSubfolder;
    target.registerEntries = administrator;
    bool update = false;
    if (administrator) {
        const tstring installed = readRegistryString(system.machineRoot(), productKey, installDirValue);
        if (!installed.empty()) {
            update = true;
            target.baseFolder = installed;
            target.subfolder.clear();
        }
    }
    // The running program is stopped only once the user has started the work: cancelling, or a
    // missing read-me, leaves it running.
    if (!(wasRunning && update) && system.showSetupDialog(target) != IDOK) return 0;
    bool restart = wasRunning;
    if (HWND running = system.findMainProgram()) {
        system.stopMainProgram(running);
        restart = true;
    }

    const tstring destination = joinPath(target.baseFolder, target.subfolder);
    const tstring stoppedCaption = TEXT("Tavolin設置を中断しました。");
    // A stopped update leaves the old installation, whose program setup ended: it runs again.
    const auto stopped = [&](const tstring& text) {
        system.messageBox(nullptr, text, stoppedCaption, MB_OK);
        if (restart) system.openWithShell(joinPath(destination, mainProgramName));
        return -2;
    };
    recoverRestartList(system);
    bool listReadable = recoverWholeFile(system, uninstallListNames(destination));
    const std::wstring oldText = listReadable ? readUninstallList(destination, &listReadable) : std::wstring();
    if (!listReadable) {
        // Its entries would be lost with it, and with them what a removal must delete.
        return stopped(TEXT("撤去情報を読むことができませんでした。何も変更していません。\n\n") +
                       joinPath(destination, uninstallListName) + TEXT(" : ") + systemErrorTextT(GetLastError()));
    }
    std::vector<std::wstring> unreadable;
    // A line naming the list itself (written by earlier versions) would let a removal delete the
    // list it says it keeps.
    std::vector<tstring> old;
    for (const tstring& line : uninstallListLines(oldText, &unreadable)) {
        if (!isListFile(line)) old.push_back(line);
    }
    // The installed copy run as its own setup installs nothing: its folder also holds the users'
    // files (the settings of Windows 98/Me users, layouts of their own), and its list stays as
    // it is. Elsewhere the setup folder's files are the set, never a list found among them.
    const bool ownFolder = isSameFile(setupFolder, destination);
    std::vector<tstring> entries;
    if (!ownFolder) {
        for (const tstring& entry : listFilesRecursive(setupFolder)) {
            if (!isListFile(entry)) entries.push_back(entry);
        }
    }
    const tstring mixed = TEXT("古いファイルを元に戻せませんでした。新旧のファイルが混在していますので、もう一度設置を行ってください。")
                          TEXT("次のファイルが残っています。");
    // A run ended part way is undone first, so that this one starts from a whole installation.
    // The old files of a set it closed are to go: listed, they go with this run's own.
    const tstring journal = joinPath(destination, journalName);
    const std::vector<journalEntry> noted = readJournal(destination);
    std::vector<tstring> closedAsides;
    const tstring undone = undoEndedRun(system, destination, noted, closedAsides);
    if (!undone.empty()) return stopped(mixed + undone + TEXT("\n") + systemErrorTextT(GetLastError()));
    for (const tstring& line : closedAsides) {
        if (std::find(old.begin(), old.end(), line) == old.end()) old.push_back(line);
    }
    // Until the list names them the journal stays; an undone set is closed, so that nothing of it
    // is undone again after this run's own.
    const bool openSet = std::any_of(noted.begin(), noted.end(), [](const journalEntry& e) { return !e.closed; });
    if (exists(journal) && (!closedAsides.empty() || !system.deleteFile(journal)) && openSet &&
        !appendJournal(system, destination, TEXT("*"))) {
        return stopped(TEXT("撤去情報の設置に失敗しました。書き込むことができませんでした。\n\n") + journal + TEXT(" : ") +
                       systemErrorTextT(GetLastError()) + TEXT("\n\n何も変更していません。"));
    }

    static const TCHAR* const messages[] = {
        TEXT("ディレクトリを作ることができませんでした。"),
        TEXT("古いファイルの一時的改名に失敗しました。"),
        TEXT("古いファイルを改名しましたが、新しいファイルを置くことができませんでした。"),
        TEXT("新しいファイルを置くことができませんでした。"),
    };
    struct placed {
        tstring entry, target, aside;
    };
    std::vector<placed> done;
    std::vector<tstring> copied;
    // Every file put in place goes and every old file comes back under its name: the
    // installation is wholly old again.
    const auto rollBack = [&](tstring text, tstring notBack, int code, DWORD error) {
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            if (it->aside.empty()) {
                if (!system.deleteFile(it->target)) notBack += TEXT("\n") + it->target;
            } else if (!system.deleteFile(it->target) || !system.moveFile(it->aside, it->target)) {
                notBack += TEXT("\n") + it->aside;
            }
        }
        text += systemErrorTextT(error) + TEXT("\n\n");
        if (!notBack.empty()) {
            // The journal stays, for the next run to finish the undoing.
            text += mixed + notBack;
        } else {
            if (!closedAsides.empty() || !system.deleteFile(journal)) appendJournal(system, destination, TEXT("*"));
            text += code == 2 ? TEXT("ファイルが使用中のため、何も変更していません。使用しているプログラムを終了するか")
                                TEXT("再起動してから、もう一度設置を行ってください。")
                              : TEXT("何も変更していません。");
        }
        return stopped(text);
    };
    for (const tstring& entry : entries) {
        placed file{entry, installedPath(destination, entry), tstring()};
        // The installed copy's own file, reached by another name: nothing to put in place or undo.
        if (isSameFile(joinPath(setupFolder, entry), file.target)) continue;
        const int code = installFile(system, setupFolder, entry, destination, &file.aside);
        if (code == 0) {
            done.push_back(file);
            copied.push_back(entry);
            continue;
        }
        const DWORD error = GetLastError();
        tstring notBack = !file.aside.empty() ? TEXT("\n") + file.aside
                          : code == 4 && exists(file.target) ? TEXT("\n") + file.target : tstring();
        return rollBack(tstring(messages[code - 1]) + TEXT("\n\n") + entry + TEXT(" : "), notBack, code, error);
    }
    // The new set is whole: from here on the old files go, and an ended run is finished, not undone.
    if (!done.empty() && !appendJournal(system, destination, TEXT("*"))) {
        const DWORD error = GetLastError();
        return rollBack(TEXT("撤去情報の設置に失敗しました。書き込むことができませんでした。\n\n") + journal + TEXT(" : "),
                        tstring(), 0, error);
    }
    // Every file is in place: only now do the old ones go.
    tstring keptNames;
    std::vector<tstring> keptLines;
    std::vector<std::pair<tstring, tstring>> oldFiles;
    // Old files an earlier run kept: gone by now, or to go with this run's; their lines leave.
    for (const tstring& line : listedAsides(old, copied)) {
        old.erase(std::find(old.begin(), old.end(), line));
        const tstring path = listedPathInside(destination, line);
        if (!path.empty() && exists(path)) oldFiles.push_back({line, path});
    }
    for (const placed& file : done) {
        if (!file.aside.empty())
            oldFiles.push_back({(isAbsoluteEntry(file.entry) ? fileNameOf(file.entry) : file.entry) +
                                    file.aside.substr(file.target.size()),
                                file.aside});
    }
    for (const auto& file : oldFiles) {
        if (disposeOfOldFile(system, file.second)) continue;
        keptLines.push_back(file.first);
        keptNames += TEXT("\n") + file.second;
    }
    std::vector<tstring> written;
    for (const tstring& entry : copied) written.push_back(installedPath(destination, entry));
    written.push_back(installedPath(destination, uninstallListName));
    // A removal before the restart may have left a deletion scheduled for one of these paths (a
    // file it could neither delete nor rename aside): the fresh files must survive the restart.
    tstring problems = stillScheduledNote(takeBackRestartDeletions(system, written));
    if (!keptNames.empty()) {
        // A normal user's removal refuses to run.
        problems += TEXT("\n\n次の古いファイルは使用中のため、削除も再起動時の削除の予約もできませんでした。") +
                    tstring(administrator ? TEXT("撤去情報に記録しましたので、次の設置か撤去の際に削除されます。")
                                          : TEXT("撤去情報に記録しましたので、次の設置の際に削除されます。")) +
                    keptNames;
    }
    // Lines that could not be read are kept as they were read, for a removal to name them; old
    // files that stay are listed for the next setup or removal to delete.
    tstring merged = mergeUninstallList(destination, copied, old);
    for (const tstring& line : keptLines) {
        if ((TEXT("\r\n") + merged).find(TEXT("\r\n") + line + TEXT("\r\n")) == tstring::npos) merged += line + TEXT("\r\n");
    }
    std::wstring list = fromT(merged);
    for (const std::wstring& line : unreadable) list += line + L"\r\n";
    if (!writeUninstallList(system, destination, list)) {
        problems += TEXT("\n\n撤去情報(") + tstring(uninstallListName) + TEXT(")は元のままです。") +
                    systemErrorTextT(GetLastError());
    } else {
        // The list names what the journal held; a journal that stays is closed and only names
        // old files to go.
        system.deleteFile(journal);
    }
    if (administrator && target.registerEntries) {
        problems += writeRegistryEntries(system, destination);
        writeShortcuts(system, destination);
    }
    if (!problems.empty()) {
        system.messageBox(nullptr, TEXT("Tavolinの設置(または更新)は終わりましたが、") + problems.substr(2),
                          TEXT("Tavolinの設置/更新"), MB_ICONWARNING);
    }
    if (restart) {
        system.openWithShell(joinPath(destination, mainProgramName));
    } else {
        if (problems.empty()) {
            system.messageBox(nullptr, TEXT("Tavolinの設置(または更新)が完了いたしました。"),
                              TEXT("Tavolinの設置/更新"), MB_ICONINFORMATION);
        }
        system.openWithShell(destination);
    }
    return 0;
}
