#include "setup/wholeFile.h"

#include "setup/setupSystem.h"

#include <windows.h>

namespace {

// WININIT.INI and the removal list hold a few lines; anything larger is not read into memory.
const DWORD wholeFileLimit = 1024 * 1024;

bool exists(const tstring& path)
{
    return GetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool readWholeFile(const tstring& path, std::string& bytes)
{
    bytes.clear();
    HANDLE file = CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    // A fresh destination has no list, nor even its folder.
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    const DWORD size = GetFileSize(file, nullptr);
    bool ok = size != INVALID_FILE_SIZE && size <= wholeFileLimit;
    DWORD error = ok ? 0 : size == INVALID_FILE_SIZE ? GetLastError() : DWORD(ERROR_FILE_TOO_LARGE);
    if (ok && size > 0) {
        bytes.resize(size);
        DWORD read = 0;
        const bool done = ReadFile(file, &bytes[0], size, &read, nullptr) != FALSE;
        ok = done && read == size;
        if (!ok) error = done ? DWORD(ERROR_HANDLE_EOF) : GetLastError();
    }
    CloseHandle(file);
    if (!ok) SetLastError(error);
    return ok;
}

bool recoverWholeFile(setupSystem& system, const wholeFileNames& names)
{
    if (exists(names.old)) {
        // Ended between the two renames: the old file is the only one.
        if (!exists(names.path)) {
            if (!system.moveFile(names.old, names.path)) return false;
        } else {
            system.deleteFile(names.old);
        }
    }
    if (exists(names.fresh)) system.deleteFile(names.fresh);
    return true;
}

bool replaceWholeFile(setupSystem& system, const wholeFileNames& names, const std::string& bytes)
{
    if (!recoverWholeFile(system, names)) return false;
    std::string check;
    DWORD error = 0;
    if (!system.writeFile(names.fresh, bytes)) {
        error = GetLastError();
    } else if (!readWholeFile(names.fresh, check)) {
        error = GetLastError();
    } else if (check != bytes) {
        error = ERROR_WRITE_FAULT;
    } else {
        const bool existed = exists(names.path);
        if (existed && !system.moveFile(names.path, names.old)) {
            error = GetLastError();
        } else if (!system.moveFile(names.fresh, names.path)) {
            error = GetLastError();
            // Where even this fails, the old file waits beside it for recoverWholeFile.
            if (existed) system.moveFile(names.old, names.path);
        } else {
            if (existed) system.deleteFile(names.old);
            return true;
        }
    }
    system.deleteFile(names.fresh);
    SetLastError(error);
    return false;
}
