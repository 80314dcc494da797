#include "setup/deferredDeletion.h"

#include "core/platform/platform.h"
#include "setup/setupSystem.h"
#include "setup/wholeFile.h"

#include <windows.h>

#include <algorithm>

namespace {

const TCHAR wininitName[] = TEXT("WININIT.INI");
// Beside it: the new text before it is swapped in, and the old one while it is.
const TCHAR wininitFreshName[] = TEXT("WININIT.TVN");
const TCHAR wininitOldName[] = TEXT("WININIT.TVO");

std::string narrow(const tstring& text)
{
    return toNarrowString(fromT(text));
}

// The lines of a text, each with its line break (the last one may have none).
std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t newline = text.find('\n', start);
        const size_t end = newline == std::string::npos ? text.size() : newline + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string trimmed(const std::string& text)
{
    const char* const blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool sameText(const std::string& a, const std::string& b)
{
    // Aware of two-byte characters, whose second byte may look like a letter.
    return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_EQUAL;
}

bool isSectionHeader(const std::string& line)
{
    return !line.empty() && line[0] == '[';
}

// A path the system writes into a buffer whose size it is first asked for; empty on failure.
template <typename Call>
tstring askedPath(Call call)
{
    const DWORD size = call(nullptr, 0);
    if (size == 0) return tstring();
    std::vector<TCHAR> buffer(size + 1, 0);
    const DWORD length = call(buffer.data(), size + 1);
    return length == 0 || length > size ? tstring() : tstring(buffer.data(), length);
}

tstring shortPathOf(const tstring& path)
{
    return askedPath([&](LPTSTR buffer, DWORD size) { return GetShortPathName(path.c_str(), buffer, size); });
}

tstring fullPathOf(const tstring& path)
{
    return askedPath([&](LPTSTR buffer, DWORD size) { return GetFullPathName(path.c_str(), size, buffer, nullptr); });
}

bool startsWith(const tstring& text, const tstring& prefix)
{
    return text.size() >= prefix.size() && lstrcmpi(text.substr(0, prefix.size()).c_str(), prefix.c_str()) == 0;
}

// One spelling of a path kept for the restart: MoveFileEx keeps it as it was given, with "\??\"
// before it ("\??\UNC\" for a network path), and WININIT.INI holds short names.
tstring canonicalRestartPath(tstring path)
{
    for (const TCHAR* unc : {TEXT("\\??\\UNC\\"), TEXT("\\\\?\\UNC\\")}) {
        if (startsWith(path, unc)) path = TEXT("\\\\") + path.substr(lstrlen(unc));
    }
    for (const TCHAR* local : {TEXT("\\??\\"), TEXT("\\\\?\\")}) {
        if (startsWith(path, local)) path.erase(0, lstrlen(local));
    }
    const tstring longer = longPathOf(path);
    if (!longer.empty()) path = longer;
    const tstring full = fullPathOf(path);
    return full.empty() ? path : full;
}

// WININIT.INI with the names beside it that its replacement uses; an empty path when the
// Windows folder is unknown (never a relative name: that would be a file of the current folder).
wholeFileNames wininitNames(setupSystem& system)
{
    const tstring windows = system.windowsFolder();
    if (windows.empty()) return wholeFileNames();
    return {joinPath(windows, wininitName), joinPath(windows, wininitFreshName), joinPath(windows, wininitOldName)};
}

// WININIT.INI as it stands, once what a replacement ended part way left is put right: read
// before that, a missing file would be taken for an empty one and the other programs' lines lost.
bool readWininit(setupSystem& system, const wholeFileNames& ini, std::string& text)
{
    text.clear();
    return recoverWholeFile(system, ini) && readWholeFile(ini.path, text);
}

}  // namespace

tstring longPathOf(const tstring& path)
{
    // Bound late: Windows 95 lacks the call.
    typedef DWORD(WINAPI * longPathName)(LPCTSTR, LPTSTR, DWORD);
#ifdef UNICODE
    const char* const name = "GetLongPathNameW";
#else
    const char* const name = "GetLongPathNameA";
#endif
    const auto call = reinterpret_cast<longPathName>(GetProcAddress(GetModuleHandle(TEXT("kernel32.dll")), name));
    if (!call) return tstring();
    return askedPath([&](LPTSTR buffer, DWORD size) { return call(path.c_str(), buffer, size); });
}

std::string withRestartDeletion(const std::string& ini, const std::string& path)
{
    const std::string entry = "NUL=" + path + "\r\n";
    std::vector<std::string> lines = linesOf(ini);
    size_t header = 0;
    while (header < lines.size() && !sameText(trimmed(lines[header]), "[rename]")) ++header;
    if (header == lines.size()) {
        std::string text = ini;
        if (!text.empty() && text[text.size() - 1] != '\n') text += "\r\n";
        return text + "[rename]\r\n" + entry;
    }
    // After the section's last line that holds anything, so blank lines stay before the next one.
    size_t at = header + 1;
    for (size_t i = header + 1; i < lines.size() && !isSectionHeader(trimmed(lines[i])); ++i) {
        if (!trimmed(lines[i]).empty()) at = i + 1;
    }
    std::string& before = lines[at - 1];
    if (before[before.size() - 1] != '\n') before += "\r\n";
    lines.insert(lines.begin() + at, entry);
    std::string text;
    for (const std::string& line : lines) text += line;
    return text;
}

std::string withoutRestartDeletions(const std::string& ini, const std::function<bool(const std::string&)>& isTaken)
{
    std::string text;
    bool inRename = false;
    for (const std::string& line : linesOf(ini)) {
        const std::string content = trimmed(line);
        if (isSectionHeader(content)) {
            inRename = sameText(content, "[rename]");
        } else if (inRename) {
            const size_t equals = content.find('=');
            if (equals != std::string::npos && sameText(trimmed(content.substr(0, equals)), "NUL") &&
                isTaken(trimmed(content.substr(equals + 1))))
                continue;
        }
        text += line;
    }
    return text;
}

std::vector<std::pair<size_t, tstring>> pendingRenameStrings(const tstring& data)
{
    size_t count = data.size();
    if (count >= 2 && data[count - 1] == 0 && data[count - 2] == 0) --count;
    std::vector<std::pair<size_t, tstring>> strings;
    for (size_t i = 0; i < count;) {
        const size_t end = std::min(data.find(TCHAR(0), i), count);
        strings.push_back({i, data.substr(i, end - i)});
        i = end + 1;
    }
    return strings;
}

bool sameRestartPath(const tstring& a, const tstring& b)
{
    return lstrcmpi(canonicalRestartPath(a).c_str(), canonicalRestartPath(b).c_str()) == 0;
}

bool recoverRestartList(setupSystem& system)
{
    const wholeFileNames ini = wininitNames(system);
    return ini.path.empty() || recoverWholeFile(system, ini);
}

bool deleteAtNextRestart(setupSystem& system, const tstring& path)
{
    if (system.deleteAtRestart(path)) return true;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
    // WININIT.INI is processed before long names are available: only the short name finds the file.
    const tstring shortPath = shortPathOf(path);
    if (shortPath.empty()) return false;
    const wholeFileNames ini = wininitNames(system);
    if (ini.path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    std::string text;
    return readWininit(system, ini, text) && replaceWholeFile(system, ini, withRestartDeletion(text, narrow(shortPath)));
}

std::vector<tstring> takeBackRestartDeletions(setupSystem& system, const std::vector<tstring>& paths)
{
    std::vector<tstring> canonical;
    for (const tstring& path : paths) canonical.push_back(canonicalRestartPath(path));
    const auto ours = [&](const tstring& scheduled) {
        const tstring spelling = canonicalRestartPath(scheduled);
        for (const tstring& path : canonical) {
            if (lstrcmpi(spelling.c_str(), path.c_str()) == 0) return true;
        }
        return false;
    };
    std::vector<tstring> stillScheduled;
    DWORD error = 0;
    // A list of the restart that can't be read may hold any of them: none is known to be taken back.
    const auto unreadable = [&] {
        error = GetLastError();
        stillScheduled = canonical;
    };

    // Our pairs are cut out of the value as it was read: every other character stays as it was.
    tstring data;
    if (!system.pendingFileRenames(data)) unreadable();
    const std::vector<std::pair<size_t, tstring>> strings = pendingRenameStrings(data);
    tstring kept;
    std::vector<tstring> taken;
    size_t from = 0;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        // Only deletions: a rename at restart brings a file of its own. A last source without its
        // target belongs to another program: it stays, never made into a deletion.
        if (!strings[i + 1].second.empty() || !ours(strings[i].second)) continue;
        taken.push_back(canonicalRestartPath(strings[i].second));
        kept += data.substr(from, strings[i].first - from);
        from = strings[i + 1].first + 1;
    }
    kept += data.substr(from);
    // Nothing but the closing NUL left: the value goes.
    if (kept.find_first_not_of(TCHAR(0)) == tstring::npos) kept.clear();
    if (!taken.empty() && !system.setPendingFileRenames(kept)) {
        error = GetLastError();
        stillScheduled.insert(stillScheduled.end(), taken.begin(), taken.end());
    }

    const wholeFileNames ini = wininitNames(system);
    std::string text;
    if (!ini.path.empty() && !readWininit(system, ini, text)) {
        unreadable();
    } else if (!text.empty()) {
        std::vector<tstring> takenLines;
        const std::string rest = withoutRestartDeletions(text, [&](const std::string& value) {
            const tstring scheduled = toT(toWideString(value));
            if (!ours(scheduled)) return false;
            takenLines.push_back(canonicalRestartPath(scheduled));
            return true;
        });
        if (rest != text && !replaceWholeFile(system, ini, rest)) {
            error = GetLastError();
            stillScheduled.insert(stillScheduled.end(), takenLines.begin(), takenLines.end());
        }
    }
    std::vector<tstring> named;
    for (const tstring& path : stillScheduled) {
        if (std::find(named.begin(), named.end(), path) == named.end()) named.push_back(path);
    }
    if (!named.empty()) SetLastError(error);
    return named;
}
