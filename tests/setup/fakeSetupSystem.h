// The setup program's system seam for tests: real files in a temporary folder, a private
// registry key standing for HKEY_LOCAL_MACHINE, scripted accounts, folders and answers, and a
// record of every box, dialog, shell start and deletion at restart. Built for both builds' text.
#pragma once

#include "setup/install.h"
#include "setup/setupSystem.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

struct shownBox {
    tstring text;
    tstring caption;
    UINT type;
};

class fakeSetupSystem : public setupSystem {
public:
    fakeSetupSystem();
    ~fakeSetupSystem() override;

    bool isAdministratorOrPowerUser() override { return administrator; }
    tstring specialFolderPath(int csidl) override;
    HWND findMainProgram() override { return running; }
    void stopMainProgram(HWND) override { ++stopped, events.push_back(TEXT("stop")); }
    int messageBox(HWND owner, const tstring& text, const tstring& caption, UINT type) override;
    INT_PTR showSetupDialog(installTarget& target) override;
    void openWithShell(const tstring& path) override { opened.push_back(path); }
    bool createDirectory(const tstring& path) override;
    bool copyFile(const tstring& from, const tstring& to) override;
    bool moveFile(const tstring& from, const tstring& to) override;
    bool deleteFile(const tstring& path) override;
    bool writeFile(const tstring& path, const std::string& bytes) override;
    bool appendFile(const tstring& path, const std::string& bytes) override;
    bool deleteAtRestart(const tstring& path) override;
    tstring windowsFolder() override { return windows; }
    bool pendingFileRenames(tstring& data) override;
    bool setPendingFileRenames(const tstring& data) override;
    HKEY machineRoot() override { return root; }
    bool writeRegistryValue(const tstring& key, const tstring& value, const tstring& text) override;
    bool deleteRegistryTree(const tstring& key) override;

    // A value under the private root; empty when missing.
    tstring registryValue(const tstring& key, const tstring& value) const;
    bool registryKeyExists(const tstring& key) const;

    bool administrator = true;
    HWND running = nullptr;
    int stopped = 0;
    std::map<int, tstring> folders;            // special folders by CSIDL
    std::vector<int> answers;                  // answers of the coming boxes, in order (then IDOK)
    std::vector<shownBox> boxes;
    INT_PTR dialogAnswer = IDOK;
    std::function<void(installTarget&)> dialogEdit;  // what the user changes in the dialog
    std::vector<installTarget> dialogsShown;          // the target each dialog opened with
    std::vector<tstring> opened;
    std::vector<tstring> restartDeletions;
    // Files that can't be deleted but can be renamed, as a running program's file on NT; renamed,
    // the file under its new name is the one in use.
    std::vector<tstring> inUse;
    // Windows 95/98/Me: a file in use (listed above, or held open) can be neither deleted nor
    // renamed, and deletions at restart answer "not implemented".
    bool win98 = false;
    // Copies fail, and writes fail halfway, as on a full disk.
    bool diskFull = false;
    // Deletions at restart, and rewriting the pending renames, fail as without the right to.
    bool restartDeletionFails = false;
    bool pendingWriteFails = false;
    // Names no file can be moved to (a file of that name appears in between, say).
    std::vector<tstring> blockedNames;
    tstring windows;                           // the Windows folder, for WININIT.INI
    // The pending renames, as MoveFileEx keeps them; the value holds them with a closing NUL
    // after an even count (an odd one has none: another program's malformed list).
    std::vector<tstring> pending;
    tstring missingDrive;                      // paths on it answer "path not found", as on Windows
    std::vector<tstring> directoriesTried;
    // Fault injection over every call that changes or reads what the run leaves behind (folder,
    // copy, rename, deletion, file write, booking, the pending renames read and written, registry
    // write and deletion): `calls` counts them, and the call numbered `failAt` fails as the system
    // would; with `endRun` the run ends there instead (runEnded is thrown), as when the process is
    // ended. A copy or write that fails or ends leaves half its bytes, as one cut short does.
    struct runEnded {};
    int calls = 0;
    int failAt = 0;
    bool endRun = false;
    // What the user and the running program met, in order: "stop", "dialog", and each box's caption.
    std::vector<tstring> events;

private:
    // Counts the call; true (with `error` set) when it is the one to fail.
    bool injected(DWORD error);
    // Whether the file can't be deleted (nor, on Windows 98, renamed) now.
    bool used(const tstring& path, bool renaming) const;

    HKEY root = nullptr;
    std::wstring m_rootName;
};
