#include "fakeSetupSystem.h"

#include "setup/deferredDeletion.h"

#include <string>

fakeSetupSystem::fakeSetupSystem()
{
    m_rootName = L"Software\\tvnSetupTest" + std::to_wstring(GetCurrentProcessId());
    RegCreateKeyExW(HKEY_CURRENT_USER, m_rootName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr);
}

fakeSetupSystem::~fakeSetupSystem()
{
    RegCloseKey(root);
    typedef LONG(WINAPI * deleteTree)(HKEY, LPCWSTR);
    auto remove = reinterpret_cast<deleteTree>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteTreeW"));
    if (remove) remove(HKEY_CURRENT_USER, m_rootName.c_str());
}

tstring fakeSetupSystem::specialFolderPath(int csidl)
{
    auto found = folders.find(csidl);
    return found == folders.end() ? tstring() : found->second;
}

int fakeSetupSystem::messageBox(HWND, const tstring& text, const tstring& caption, UINT type)
{
    boxes.push_back({text, caption, type});
    events.push_back(caption);
    if (answers.empty()) return IDOK;
    const int answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}

INT_PTR fakeSetupSystem::showSetupDialog(installTarget& target)
{
    // What the dialog itself does on opening: registration follows the account.
    target.registerEntries = administrator;
    dialogsShown.push_back(target);
    events.push_back(TEXT("dialog"));
    if (dialogEdit) dialogEdit(target);
    return dialogAnswer;
}

bool fakeSetupSystem::injected(DWORD error)
{
    if (++calls != failAt) return false;
    if (endRun) throw runEnded();
    SetLastError(error);
    return true;
}

bool fakeSetupSystem::createDirectory(const tstring& path)
{
    directoriesTried.push_back(path);
    if (injected(ERROR_ACCESS_DENIED)) return false;
    if (!missingDrive.empty() && path.compare(0, missingDrive.size(), missingDrive) == 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return setupSystem::createDirectory(path);
}

bool fakeSetupSystem::used(const tstring& path, bool renaming) const
{
    if (renaming && !win98) return false;
    for (const tstring& file : inUse) {
        if (lstrcmpi(file.c_str(), path.c_str()) == 0) return true;
    }
    if (!win98) return false;
    // Open in any way: Windows 98 neither deletes nor renames it.
    HANDLE file = CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
}

bool fakeSetupSystem::copyFile(const tstring& from, const tstring& to)
{
    const bool failing = calls + 1 == failAt;
    if (diskFull || failing) {
        // Cut short: the target holds the first half of the file.
        std::string bytes;
        HANDLE file = CreateFile(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            bytes.resize(GetFileSize(file, nullptr));
            DWORD read = 0;
            if (!bytes.empty()) ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
            CloseHandle(file);
        }
        setupSystem::writeFile(to, bytes.substr(0, bytes.size() / 2));
    }
    if (injected(ERROR_DISK_FULL)) return false;
    if (diskFull) {
        SetLastError(ERROR_DISK_FULL);
        return false;
    }
    return setupSystem::copyFile(from, to);
}

bool fakeSetupSystem::moveFile(const tstring& from, const tstring& to)
{
    if (injected(ERROR_ACCESS_DENIED)) return false;
    if (used(from, true)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }
    for (const tstring& name : blockedNames) {
        if (lstrcmpi(name.c_str(), to.c_str()) == 0) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return false;
        }
    }
    if (!setupSystem::moveFile(from, to)) return false;
    for (tstring& file : inUse) {
        if (lstrcmpi(file.c_str(), from.c_str()) == 0) file = to;
    }
    return true;
}

bool fakeSetupSystem::deleteFile(const tstring& path)
{
    if (injected(ERROR_ACCESS_DENIED)) return false;
    if (used(path, false)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return setupSystem::deleteFile(path);
}

bool fakeSetupSystem::writeFile(const tstring& path, const std::string& bytes)
{
    if (calls + 1 == failAt) setupSystem::writeFile(path, bytes.substr(0, bytes.size() / 2));
    if (injected(ERROR_DISK_FULL)) return false;
    if (!diskFull) return setupSystem::writeFile(path, bytes);
    setupSystem::writeFile(path, bytes.substr(0, bytes.size() / 2));
    SetLastError(ERROR_DISK_FULL);
    return false;
}

bool fakeSetupSystem::appendFile(const tstring& path, const std::string& bytes)
{
    if (calls + 1 == failAt) setupSystem::appendFile(path, bytes.substr(0, bytes.size() / 2));
    if (injected(ERROR_DISK_FULL)) return false;
    return setupSystem::appendFile(path, bytes);
}

bool fakeSetupSystem::deleteAtRestart(const tstring& path)
{
    if (injected(ERROR_ACCESS_DENIED)) return false;
    if (win98 || restartDeletionFails) {
        SetLastError(win98 ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_ACCESS_DENIED);
        return false;
    }
    restartDeletions.push_back(path);
    pending.push_back(TEXT("\\??\\") + path);
    pending.push_back(tstring());
    return true;
}

bool fakeSetupSystem::pendingFileRenames(tstring& data)
{
    data.clear();
    if (injected(ERROR_ACCESS_DENIED)) return false;
    for (const tstring& item : pending) data += item + TCHAR(0);
    if (!pending.empty() && pending.size() % 2 == 0) data += TCHAR(0);
    return true;
}

bool fakeSetupSystem::setPendingFileRenames(const tstring& data)
{
    if (injected(ERROR_ACCESS_DENIED)) return false;
    if (pendingWriteFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    pending.clear();
    for (const auto& item : pendingRenameStrings(data)) pending.push_back(item.second);
    return true;
}

bool fakeSetupSystem::writeRegistryValue(const tstring& key, const tstring& value, const tstring& text)
{
    if (injected(ERROR_ACCESS_DENIED)) return false;
    return setupSystem::writeRegistryValue(key, value, text);
}

bool fakeSetupSystem::deleteRegistryTree(const tstring& key)
{
    if (injected(ERROR_ACCESS_DENIED)) return false;
    return setupSystem::deleteRegistryTree(key);
}

tstring fakeSetupSystem::registryValue(const tstring& key, const tstring& value) const
{
    return readRegistryString(root, key, value);
}

bool fakeSetupSystem::registryKeyExists(const tstring& key) const
{
    HKEY handle = nullptr;
    if (RegOpenKeyEx(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}
