// Deleting at the next restart what can't be deleted now, and taking such deletions back for the
// files an installation writes afresh. Windows NT keeps them in the registry (MoveFileEx); Windows
// 95/98/Me lack that call and read the "[rename]" section of WININIT.INI in the Windows folder
// instead, one "NUL=<short path>" line per file.
#pragma once

#include "core/platform/tstring.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

class setupSystem;

// The long form of an existing file's path; empty when it can't be had.
tstring longPathOf(const tstring& path);

// Schedules the file's deletion at the next restart: MoveFileEx, or where the system answers that
// it does not implement it, a line of WININIT.INI. False, with the error for GetLastError, when
// neither could be done.
bool deleteAtNextRestart(setupSystem& system, const tstring& path);

// Puts WININIT.INI back where a run ended while it swapped it in left it beside its name, before
// Windows or anything else reads it. False (with the error) when it can't be put back.
bool recoverRestartList(setupSystem& system);

// Takes back the deletions at restart scheduled for these paths: an installation writes fresh
// files there, which the restart would otherwise delete. Every other entry stays exactly as it
// was. Answers the paths whose deletion is still scheduled because the list of the restart could
// not be rewritten, or may be because it could not be read (the system's error is left for
// GetLastError); empty when all went well. WININIT.INI left half swapped by an ended run is
// put right first.
std::vector<tstring> takeBackRestartDeletions(setupSystem& system, const std::vector<tstring>& paths);

// The strings of the pending renames' value, each with the place it begins at. The closing NUL of
// the list is no string of its own; a list without it (a last source without its target) keeps
// its last string.
std::vector<std::pair<size_t, tstring>> pendingRenameStrings(const tstring& data);

// Whether two paths as kept for the restart name one file: "\??\" and "\??\UNC\" prefixes,
// short (8.3) names of existing files and letter case do not count.
bool sameRestartPath(const tstring& a, const tstring& b);

// WININIT.INI as text (its bytes): with "NUL=<path>" appended to its "[rename]" section, which is
// added at the end when missing. Lines are kept as they are: the section may name a file twice.
std::string withRestartDeletion(const std::string& ini, const std::string& path);
// The same text without the "[rename]" lines "NUL=<path>" whose path `isTaken` admits.
std::string withoutRestartDeletions(const std::string& ini, const std::function<bool(const std::string&)>& isTaken);
