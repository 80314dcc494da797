// Removing an installation: the files of the removal list (locked ones at the next restart),
// the list, the Uninstall key and the shortcuts. "InstallDir", the folders and user data stay.
#pragma once

#include "core/platform/tstring.h"

#include <windows.h>

class setupSystem;

// The whole removal of the installation in `folder`, the removal program's own folder.
void removeInstallation(setupSystem& system, const tstring& folder);
// Deletes one listed file, or schedules it for deletion at restart with a box naming it.
void removeListedFile(setupSystem& system, const tstring& path);
// Deletes the key with all its subkeys; true when the key is gone.
bool deleteRegistryKeyTree(HKEY root, const tstring& key);
