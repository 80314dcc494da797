// Removing an installation: the files of the removal list (locked ones at the next restart),
// the list, the Uninstall key and the shortcuts. "InstallDir", the folders and user data stay.
#pragma once

#include "core/platform/tstring.h"

#include <windows.h>

class setupSystem;

// The whole removal of the installation in `folder`, the removal program's own folder.
void removeInstallation(setupSystem& system, const tstring& folder);
enum class listedFileResult { deleted, scheduled, missing, failed };
// Deletes one listed file, or moves it aside when it is in use and schedules that for deletion at
// restart, with a box naming the file. A path that names no file (or a folder) is left alone
// silently; a failure is shown with the system's error, and `leftAt` names where the file stays
// (its own path, or the name it was moved aside to when it could not be moved back). The move
// aside is written down first in the journal of `folder`.
listedFileResult removeListedFile(setupSystem& system, const tstring& folder, const tstring& path,
                                  tstring* leftAt = nullptr);
// Deletes the key with all its subkeys; true when the key is gone.
bool deleteRegistryKeyTree(HKEY root, const tstring& key);
