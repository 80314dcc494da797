#include "fakeSetupSystem.h"

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
    return found == folders.end() ? L"" : found->second;
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
    events.push_back(L"dialog");
    if (dialogEdit) dialogEdit(target);
    return dialogAnswer;
}

bool fakeSetupSystem::createDirectory(const tstring& path)
{
    directoriesTried.push_back(path);
    if (!missingDrive.empty() && path.compare(0, missingDrive.size(), missingDrive) == 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return setupSystem::createDirectory(path);
}

bool fakeSetupSystem::deleteFile(const tstring& path)
{
    for (const std::wstring& used : inUse) {
        if (_wcsicmp(used.c_str(), path.c_str()) == 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
    }
    return setupSystem::deleteFile(path);
}

bool fakeSetupSystem::deleteAtRestart(const tstring& path)
{
    if (restartDeletionNotImplemented) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }
    restartDeletions.push_back(path);
    pending.push_back(L"\\??\\" + path);
    pending.push_back(L"");
    return true;
}

bool fakeSetupSystem::setPendingFileRenames(const std::vector<tstring>& items)
{
    pending = items;
    return true;
}

std::wstring fakeSetupSystem::registryValue(const std::wstring& key, const std::wstring& value) const
{
    return readRegistryString(root, key, value);
}

bool fakeSetupSystem::registryKeyExists(const std::wstring& key) const
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}
