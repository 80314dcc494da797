// What the setup program asks of the system, behind one class so its rules can run without a
// person: accounts, special folders, the running tray program, message boxes and the setup
// dialog, the shell, the file calls whose failures decide what happens to a file in use, and
// the registry root that stands for HKEY_LOCAL_MACHINE. The base class does the real thing;
// tests override what they need to script or watch.
#pragma once

#include "core/platform/tstring.h"

#include <windows.h>

#include <string>
#include <vector>

struct installTarget;

class setupSystem {
public:
    virtual ~setupSystem() = default;

    virtual bool isAdministratorOrPowerUser();
    // SHGetSpecialFolderLocation + SHGetPathFromIDList; empty on failure.
    virtual tstring specialFolderPath(int csidl);

    // The tray window of a running main program, or null.
    virtual HWND findMainProgram();
    // Sends it its quit command and waits, within 10 s in all, until its process has ended.
    virtual void stopMainProgram(HWND window);

    virtual int messageBox(HWND owner, const tstring& text, const tstring& caption, UINT type);
    // The setup dialog on `target`: IDOK to go on, -2 cancelled, 4 no read-me.
    virtual INT_PTR showSetupDialog(installTarget& target);
    // ShellExecute "open" with SW_SHOW (a program is started, a folder opened).
    virtual void openWithShell(const tstring& path);

    // The file calls; each leaves the system's error code for GetLastError when it fails.
    virtual bool createDirectory(const tstring& path);
    virtual bool copyFile(const tstring& from, const tstring& to);
    virtual bool moveFile(const tstring& from, const tstring& to);
    virtual bool deleteFile(const tstring& path);
    // The file created anew with exactly these bytes; false (with the error) when it could not be
    // written whole.
    virtual bool writeFile(const tstring& path, const std::string& bytes);
    // The bytes added at the end of the file (created when missing) and flushed to the disk; false
    // (with the error) when they could not all be written.
    virtual bool appendFile(const tstring& path, const std::string& bytes);
    // MoveFileEx(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT); Windows 95/98/Me answer
    // ERROR_CALL_NOT_IMPLEMENTED (see deferredDeletion.h for what takes its place there).
    virtual bool deleteAtRestart(const tstring& path);
    // The Windows folder, which holds WININIT.INI; empty on failure.
    virtual tstring windowsFolder();
    // What MoveFileEx keeps for the next restart (PendingFileRenameOperations of the Session
    // Manager), as the value's characters exactly: source and target in turns, each with its NUL
    // (an empty target for a deletion), and normally a closing NUL (see pendingRenameStrings). False
    // (with the error) when the value exists but can't be read; a missing value is empty. Written
    // back as given, other programs' entries stay byte for byte; written empty, the value goes.
    virtual bool pendingFileRenames(tstring& data);
    virtual bool setPendingFileRenames(const tstring& data);

    // The root under which the product key and the Uninstall key live.
    virtual HKEY machineRoot() { return HKEY_LOCAL_MACHINE; }
    // A REG_SZ value under that root, and a key deleted with its subkeys (true when it is gone,
    // also when it was never there); each leaves the system's error when it fails.
    virtual bool writeRegistryValue(const tstring& key, const tstring& value, const tstring& text);
    virtual bool deleteRegistryTree(const tstring& key);
};

// The real test behind setupSystem::isAdministratorOrPowerUser: the process token is a member of
// BUILTIN\Administrators or BUILTIN\Power Users. A failure counts as not a member; on the 9x
// platform, which has no accounts, everyone may install.
bool isAdministratorOrPowerUser();
