#include "setup/deferredDeletion.h"

#include "core/platform/platform.h"
#include "setup/setupSystem.h"

#include <windows.h>

namespace {

const TCHAR wininitName[] = TEXT("WININIT.INI");
// The prefix MoveFileEx gives the paths it keeps for the restart.
const TCHAR ntPathPrefix[] = TEXT("\\??\\");

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

// The file's bytes; false when it exists but can't be read. A missing file is empty.
bool readBytes(const tstring& path, std::string& bytes)
{
    bytes.clear();
    HANDLE file = CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    const DWORD size = GetFileSize(file, nullptr);
    bool ok = size != INVALID_FILE_SIZE;
    if (ok && size > 0) {
        bytes.resize(size);
        DWORD read = 0;
        ok = ReadFile(file, &bytes[0], size, &read, nullptr) && read == size;
    }
    CloseHandle(file);
    return ok;
}

bool writeBytes(const tstring& path, const std::string& bytes)
{
    HANDLE file = CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(bytes.size());
    const bool ok = size == 0 || (WriteFile(file, bytes.data(), size, &written, nullptr) && written == size);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok) SetLastError(error);
    return ok;
}

tstring shortPathOf(const tstring& path)
{
    const DWORD size = GetShortPathName(path.c_str(), nullptr, 0);
    if (size == 0) return tstring();
    std::vector<TCHAR> buffer(size + 1, 0);
    const DWORD length = GetShortPathName(path.c_str(), buffer.data(), size + 1);
    return length == 0 || length > size ? tstring() : tstring(buffer.data(), length);
}

tstring wininitPath(setupSystem& system)
{
    const tstring windows = system.windowsFolder();
    // Never a relative name: that would be a file of the current folder.
    return windows.empty() ? tstring() : joinPath(windows, wininitName);
}

bool namesOneOf(tstring scheduled, const std::vector<tstring>& paths)
{
    const tstring prefix = ntPathPrefix;
    if (scheduled.compare(0, prefix.size(), prefix) == 0) scheduled.erase(0, prefix.size());
    for (const tstring& path : paths) {
        if (lstrcmpi(scheduled.c_str(), path.c_str()) == 0) return true;
    }
    return false;
}

}  // namespace

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

std::string withoutRestartDeletions(const std::string& ini, const std::vector<std::string>& paths)
{
    std::string text;
    bool inRename = false;
    for (const std::string& line : linesOf(ini)) {
        const std::string content = trimmed(line);
        if (isSectionHeader(content)) {
            inRename = sameText(content, "[rename]");
        } else if (inRename) {
            const size_t equals = content.find('=');
            if (equals != std::string::npos && sameText(trimmed(content.substr(0, equals)), "NUL")) {
                const std::string value = trimmed(content.substr(equals + 1));
                bool taken = false;
                for (const std::string& path : paths) taken = taken || sameText(value, path);
                if (taken) continue;
            }
        }
        text += line;
    }
    return text;
}

tstring putAside(setupSystem& system, const tstring& path)
{
    for (int i = 0; i < 100; ++i) {
        const tstring aside = path + TEXT(".") + toT(std::to_wstring(i));
        if (system.moveFile(path, aside)) return aside;
    }
    return tstring();
}

bool deleteAtNextRestart(setupSystem& system, const tstring& path)
{
    if (system.deleteAtRestart(path)) return true;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
    // WININIT.INI is processed before long names are available: only the short name finds the file.
    const tstring shortPath = shortPathOf(path);
    if (shortPath.empty()) return false;
    const tstring ini = wininitPath(system);
    if (ini.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    std::string text;
    return readBytes(ini, text) && writeBytes(ini, withRestartDeletion(text, narrow(shortPath)));
}

void takeBackRestartDeletions(setupSystem& system, const std::vector<tstring>& paths)
{
    const std::vector<tstring> pending = system.pendingFileRenames();
    std::vector<tstring> kept;
    for (size_t i = 0; i < pending.size(); i += 2) {
        const tstring target = i + 1 < pending.size() ? pending[i + 1] : tstring();
        // Only deletions: a rename at restart brings a file of its own.
        if (target.empty() && namesOneOf(pending[i], paths)) continue;
        kept.push_back(pending[i]);
        kept.push_back(target);
    }
    if (kept.size() < pending.size()) system.setPendingFileRenames(kept);

    const tstring ini = wininitPath(system);
    std::string text;
    if (ini.empty() || !readBytes(ini, text) || text.empty()) return;
    std::vector<std::string> names;
    for (const tstring& path : paths) {
        names.push_back(narrow(path));
        const tstring shortPath = shortPathOf(path);
        if (!shortPath.empty()) names.push_back(narrow(shortPath));
    }
    const std::string rest = withoutRestartDeletions(text, names);
    if (rest != text) writeBytes(ini, rest);
}
