// Installing or updating the product folder: the install target, the removal list
// "Uninstar.dat", copying with files in use put aside, the registry entries and the shortcuts.
// Also the small path, list and registry helpers that removal and the setup dialog share.
#pragma once

#include "core/platform/tstring.h"
#include "setup/wholeFile.h"

#include <windows.h>

#include <string>
#include <vector>

class setupSystem;

// Where to install and whether to register the installation (registry entries and shortcuts).
struct installTarget {
    tstring baseFolder;
    tstring subfolder;
    bool registerEntries = false;
};

extern const TCHAR uninstallListName[];    // "Uninstar.dat"
extern const TCHAR productKey[];           // "Software\Brannoch\Tavolin13"
extern const TCHAR installDirValue[];      // "InstallDir"
extern const TCHAR uninstallKey[];         // "...\Uninstall\brannochTvn13"
extern const TCHAR defaultSubfolder[];     // "Brannoch\Tavolin13"
extern const TCHAR mainProgramName[];      // "TavolinXP.exe"
extern const TCHAR removalProgramName[];   // "Tavolinの撤去Xp.exe"
extern const TCHAR ansiTwinName[];         // "Tavolinの撤去Me.exe"
extern const TCHAR readMeName[];           // "ご利用の前に.txt"
extern const TCHAR startMenuFolderName[];  // "Tavolin 1.3+"
extern const TCHAR mainShortcutName[];     // "Tavolin1.3+.lnk"
extern const TCHAR manualShortcutName[];   // "Tavolinの説明書.lnk"
extern const TCHAR manualName[];           // "説明書.html"
extern const TCHAR mainWindowClass[];      // "orvessaTasktray"
const WPARAM mainProgramQuitCommand = 3001;

// Creates the folder (with `takeDirectoryPart`, the folder of the path) and its missing parents.
// A folder that already exists counts as made. Fails when no part of the path can be made.
bool createDirectoryRecursive(setupSystem& system, const tstring& path, bool takeDirectoryPart);
// Program Files for an administrator or power user installing for everyone; else the user's
// documents folder, or the desktop folder when that is unknown.
tstring defaultBaseFolder(setupSystem& system, bool perUser);

// A REG_SZ value; empty when the key or value is missing.
tstring readRegistryString(HKEY root, const tstring& key, const tstring& value);
bool writeRegistryString(HKEY root, const tstring& key, const tstring& value, const tstring& text);

// "10進" + code + " : " + the system's text for it.
tstring systemErrorTextT(DWORD code);
void showErrorBox(setupSystem& system, const tstring& text, const tstring& caption, DWORD code);

// The removal list of the folder as text, whole, up to its first NUL. A missing list is empty;
// one that exists but can't be read (or is larger than any list the setup writes) is empty too,
// with `readable` cleared.
std::wstring readUninstallList(const tstring& folder, bool* readable = nullptr);
// The text of the list's bytes: UTF-16LE as installed; after a byte-order mark, UTF-16 of that
// order or UTF-8; without a single zero byte, UTF-8 when the whole text is valid UTF-8, else
// CP932. A line that does not decode cleanly begins with unreadableLineMark.
std::wstring uninstallListText(const std::string& bytes);
const wchar_t unreadableLineMark = 0xFFFD;
// Its lines: split at LF, trailing control characters dropped, empty and blank lines left out.
// A line that was not decoded cleanly, or that the build's text can't hold, names no file that
// can be trusted: it goes to `unreadable` (when given) instead.
std::vector<tstring> uninstallListLines(const std::wstring& text, std::vector<std::wstring>* unreadable = nullptr);
tstring trimTrailingControlChars(const tstring& text);
// The files below the folder as relative paths in walk order; folders whose name begins with
// "." are skipped.
std::vector<tstring> listFilesRecursive(const tstring& folder);
// The full path of a removal-list entry taken in `folder` (joined to it unless absolute, "/" read
// as "\", "." and ".." resolved) when it lies inside the folder, whatever the letter case; empty
// when it names the folder itself or anything outside it. Removal deletes only what this admits.
tstring listedPathInside(const tstring& folder, const tstring& entry);
// The new removal list of `destination`: the entries copied in their order, then the old entries
// not copied again, in their old order, less those outside the destination; each line ends with
// CR LF.
tstring mergeUninstallList(const tstring& destination, const std::vector<tstring>& copied,
                           std::vector<tstring> old);
// Whether the path is a user's settings file ("tvn-<user>.ini" beside the program, where the
// settings of Windows 98/Me users live): never listed, never deleted through a list line.
bool isUsersSettingsFile(const tstring& folder, const tstring& path);

// The removal list of the destination with the names beside it that its replacement uses.
wholeFileNames uninstallListNames(const tstring& destination);
// A file of ours marked read-only could be renamed but never deleted: the attribute goes first.
void makeWritable(const tstring& path);

// Whether the two paths name one file or folder (the installed copy run as its own setup),
// however each is written: a trailing backslash, a short name, another drive mapped onto it.
bool isSameFile(const tstring& a, const tstring& b);

// What a run writes down beside the list before it renames a file of the folder, so that a run
// ended part way is finished or undone by the next, and so that only what it wrote down is ever
// taken for an old file put aside (a user's file may carry such a name). One line per file:
// its path relative to the folder, a tab, and the name the old file is put aside under (empty
// for a file that had none); a line "*" once every new file is in place.
extern const TCHAR journalName[];  // "Uninstar.tvj"
struct journalEntry {
    tstring target, aside;  // full paths inside the folder; `aside` empty for a new file
    bool closed;            // a "*" follows: the new file stays, the old one is to go
};
// The entries of the folder's journal that name files inside it, in their order; a line cut
// short by an ended write is no entry.
std::vector<journalEntry> readJournal(const tstring& folder);
bool appendJournal(setupSystem& system, const tstring& folder, const tstring& line);
// Writes the file down and moves it aside to the first free "<path>.<n>"; answers that name, or
// empty when it could not be written down or renamed (the system's error is left).
tstring putAsideNoted(setupSystem& system, const tstring& folder, const tstring& path);
// The full path at which installFile puts the setup folder's entry.
tstring installedPath(const tstring& destination, const tstring& entry);
// Puts the setup folder's entry in place in the destination. An old file there is first renamed
// aside ("<name>.<n>", answered in `aside`) and left for the caller to delete once every file is
// in place. 0 in place, 1 the folder could not be made, 2 the old file could not be put aside, 3
// the new file could not be written after the old one was put aside, 4 the new file could not be
// written where there was no old file. After a failure the old file is back under its name and
// `aside` is empty, or, when even that failed, `aside` names where it stays.
int installFile(setupSystem& system, const tstring& setupFolder, const tstring& entry, const tstring& destination,
                tstring* aside);

// The whole installation from the setup folder; answers the program's exit code. An update that
// stops leaves the old installation as it was; one that ended part way is finished by the next.
int runInstallation(setupSystem& system, const tstring& setupFolder);
