// The setup program's system seam for tests: real files in a temporary folder, a private
// registry key standing for HKEY_LOCAL_MACHINE, scripted accounts, folders and answers, and a
// record of every box, dialog, shell start and deletion at restart.
#pragma once

#include "setup/install.h"
#include "setup/setupSystem.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

struct shownBox {
    std::wstring text;
    std::wstring caption;
    UINT type;
};

class fakeSetupSystem : public setupSystem {
public:
    fakeSetupSystem();
    ~fakeSetupSystem() override;

    bool isAdministratorOrPowerUser() override { return administrator; }
    tstring specialFolderPath(int csidl) override;
    HWND findMainProgram() override { return running; }
    void stopMainProgram(HWND window) override { ++stopped, events.push_back(L"stop"); }
    int messageBox(HWND owner, const tstring& text, const tstring& caption, UINT type) override;
    INT_PTR showSetupDialog(installTarget& target) override;
    void openWithShell(const tstring& path) override { opened.push_back(path); }
    bool createDirectory(const tstring& path) override;
    bool deleteFile(const tstring& path) override;
    bool deleteAtRestart(const tstring& path) override;
    tstring windowsFolder() override { return windows; }
    std::vector<tstring> pendingFileRenames() override { return pending; }
    bool setPendingFileRenames(const std::vector<tstring>& items) override;
    HKEY machineRoot() override { return root; }

    // A value under the private root; empty when missing.
    std::wstring registryValue(const std::wstring& key, const std::wstring& value) const;
    bool registryKeyExists(const std::wstring& key) const;

    bool administrator = true;
    HWND running = nullptr;
    int stopped = 0;
    std::map<int, std::wstring> folders;       // special folders by CSIDL
    std::vector<int> answers;                  // answers of the coming boxes, in order (then IDOK)
    std::vector<shownBox> boxes;
    INT_PTR dialogAnswer = IDOK;
    std::function<void(installTarget&)> dialogEdit;  // what the user changes in the dialog
    std::vector<installTarget> dialogsShown;          // the target each dialog opened with
    std::vector<std::wstring> opened;
    std::vector<std::wstring> restartDeletions;
    // Files that can't be deleted but can be renamed, as a running program's file on NT.
    std::vector<std::wstring> inUse;
    // Deletions at restart answer "not implemented", as on Windows 95/98/Me.
    bool restartDeletionNotImplemented = false;
    std::wstring windows;                      // the Windows folder, for WININIT.INI
    std::vector<std::wstring> pending;         // the pending renames, as MoveFileEx keeps them
    std::wstring missingDrive;                 // paths on it answer "path not found", as on Windows
    std::vector<std::wstring> directoriesTried;
    // What the user and the running program met, in order: "stop", "dialog", and each box's caption.
    std::vector<std::wstring> events;

private:
    HKEY root = nullptr;
    std::wstring m_rootName;
};
