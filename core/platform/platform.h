// Which Windows the program runs on, and the path helpers of the program folder and the
// per-user settings file. Paths are the build's text (wide, or CP932 in the ANSI build) with
// backslashes; every comparison is exact and case-sensitive.
#pragma once

#include "core/platform/tstring.h"

#include <windows.h>

// The system's version record, asked once and kept. When it can't be had a warning is shown
// and every test below answers false.
const OSVERSIONINFOW& getOsVersion();
bool isWinNT();
bool isWin2000OrLater();
// Every NT from 5.1 on: XP, Server 2003, Vista and everything after.
bool isWinXPOrLater();
bool isWin9x();
// The same tests on a given record.
bool isWinNT(const OSVERSIONINFOW& version);
bool isWin2000OrLater(const OSVERSIONINFOW& version);
bool isWinXPOrLater(const OSVERSIONINFOW& version);
bool isWin9x(const OSVERSIONINFOW& version);

// The text before the last backslash ("C:\a\b.txt" gives "C:\a", "C:\" gives "C:"); empty
// without a backslash. A CP932 trail byte is never taken for a backslash.
tstring directoryOf(const tstring& path);
// The file part of the full path; empty when there is none or the full path is too long.
tstring fileNameOf(const tstring& path);
// The rest of `path` below `base`; empty when they are equal; `path` itself when it is not
// below `base`.
tstring relativePath(const tstring& base, const tstring& path);
// `name` in `dir`, unless `name` is rooted or holds a drive (then `name` alone).
tstring joinPath(const tstring& dir, const tstring& name);
// Creates the folder and its missing parents; with `parentOnly`, the folder of a file path.
// True when the folder exists afterwards (a file of that name is not a folder).
bool createDirectoryRecursive(const tstring& path, bool parentOnly);
// A text usable as a file name: each of \ / : , ; * ? " < > | % becomes "%" and its code in
// decimal (":" gives "%58").
tstring escapeForFileName(const tstring& text);
// The running program's path in its long form; empty when it can't be had in full.
tstring programPath();
// The program's folder in CP932, found with the ANSI calls alone: the hand-overs between the
// builds run it on Windows 98/Me in the Unicode build too, where the wide calls are stubs.
std::string programFolderAnsi();
void setCurrentDirectoryToProgramFolder();
// prefix + escaped user name + ".ini" in `folder`, created empty when missing. When it can't be
// created there, the same name in the user's home folder (HOMEDRIVE + HOMEPATH), not created.
tstring userIniPath(const tstring& prefix, const tstring& folder);
