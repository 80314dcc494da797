// Support for the tests that run the hook library for real: the library loaded from the build,
// its export bound by name, and the helper program that owns a focused window.
#pragma once

#include "hooklib/protocol.h"

#include <functional>
#include <string>
#include <vector>

// The library loaded by path and its export bound by its exact decorated name.
struct loadedLibrary {
    HMODULE module = nullptr;
    njankotanFunction entry = nullptr;

    bool load(const std::wstring& fileName);
    void unload();
    fromDll_waitInfoAdds call(fromDll::requestToDll request, unsigned int wparam = 0, long lparam = 0) const;
    // Every report waiting now, oldest first.
    std::vector<fromDll_waitInfoAdds> drainReports() const;
};

// The helper program with its focused window; queries go through its private message.
struct hookTarget {
    PROCESS_INFORMATION process = {};
    HWND window = nullptr;
    HWND edit = nullptr;

    bool start();
    void stop();
    LRESULT query(int which, LPARAM argument = 0) const;
    std::wstring text() const;
};

// Polls until the condition holds or the time is up.
bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs = 3000);

// This session's view of the shared record, opened by name like any copy of the library.
struct sharedView {
    HANDLE mapping = nullptr;
    dllSharedData* data = nullptr;
    bool open();
    void close();
};

enum targetQuery {
    queryLibraryLoaded = 1,
    queryOpenStatus = 2,
    queryConversionMode = 3,
    querySetOpenStatus = 4,
    querySetConversionMode = 5,
    queryCompositionChar = 6,
    queryTakeFocus = 7,
    queryClearText = 8,
    queryCancelComposition = 9,
    queryBusy = 10,
    queryImeStandIn = 11,
    queryProcessKeysSeen = 12,
    queryKeyDown = 13
};
