// Small platform chores: registry values, bounded copies, per-session object names, window
// icons and rectangles, the log window's edit control, library versions, and the late-bound
// session-notification calls that older systems lack.
#pragma once

#include "core/platform/tstring.h"

#include <windows.h>

#include <string>

// Registry values under a root key. Every function closes what it opens.
bool registryKeyExists(HKEY root, const std::wstring& subKey);
// Reads up to 4 bytes of the value, whatever its type, into a zeroed number (a shorter value
// never leaves stray bytes). On any failure `value` = `defaultValue` and the answer is false.
bool readRegistryDword(HKEY root, const std::wstring& subKey, const std::wstring& valueName, DWORD& value,
                       DWORD defaultValue);
// Creates missing keys and sets a REG_DWORD value. True when the value was set.
bool writeRegistryDword(HKEY root, const std::wstring& subKey, const std::wstring& valueName, DWORD value);

// Copies at most capacity - 1 units and always terminates (nothing is written for capacity 0).
// Answers the full length of the source, so an answer >= capacity means the copy was cut.
size_t copyBoundedW(wchar_t* destination, const wchar_t* source, size_t capacity);
size_t copyBounded(char* destination, const char* source, size_t capacity);

// The base name followed by the decimal session id of this process, so named objects of
// different sessions don't meet. The base name alone when the id can't be had, and always
// in the ANSI build (Windows 98/Me has no sessions).
tstring sessionQualifiedName(const tstring& baseName);

// Icons of the program's own resources.
HICON loadSmallIcon(int resourceId);
// Resource id -1 removes the icon.
void setSmallIcon(HWND window, int resourceId);
void setBigIcon(HWND window, int resourceId);
void destroySmallIcon(HWND window);
void destroyBigIcon(HWND window);

// The window's rectangle in its parent's client coordinates. False without a parent.
bool windowRectInParent(HWND window, RECT& rect);

// Appends text to an edit control, LF becoming CR LF. When the control already holds more than
// `limit` characters, its first two thirds go first, up to the end of the line they cut.
void appendEditText(const tstring& text, HWND edit, int limit);
// Removes one line of an edit control together with its line end.
void deleteEditLine(HWND edit, int line);

// (major << 16) | minor from the library's DllGetVersion; 0 when it can't be had.
DWORD getDllVersion(const tstring& fileName);

// WTSRegisterSessionNotification / WTSUnRegisterSessionNotification where the system has them.
// FALSE while the function can't be found; the next call looks again.
BOOL registerSessionNotification(HWND window, DWORD flags);
BOOL unregisterSessionNotification(HWND window);
