// A small file that other programs or a later run rely on (WININIT.INI, the removal list) is
// replaced whole, never written in place: a write cut short (a full disk, the process ended)
// would lose what it held. The new text is written beside it and read back, then swapped in with
// plain renames, which Windows 95/98/Me have; what a run ended between the renames leaves is put
// right before the file is read again.
#pragma once

#include "core/platform/tstring.h"

#include <string>

class setupSystem;

// The file's bytes; false (with the error) when it exists but can't be read or is larger than
// any such file. A missing file (or folder) is empty.
bool readWholeFile(const tstring& path, std::string& bytes);

// The names beside `path` that a replacement uses: the new text before it is swapped in, and the
// old file while it is.
struct wholeFileNames {
    tstring path, fresh, old;
};

// Finishes what a replacement ended part way left: the old file goes back under its name when
// that is free, and is deleted only once the file is there. False (with the error) when it can't
// be put back.
bool recoverWholeFile(setupSystem& system, const wholeFileNames& names);
// Puts `bytes` in place of the file (created when missing). False (with the error) when it could
// not: the file then holds what it held before, or is recovered to it by recoverWholeFile.
bool replaceWholeFile(setupSystem& system, const wholeFileNames& names, const std::string& bytes);
