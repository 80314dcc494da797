// The eight page procedures of the settings sheet and what the pages share with each other.
#pragma once

#include <windows.h>

#include <string>

INT_PTR CALLBACK arrayFilePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK convertFilePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK controlPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK displayPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK timePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK practicePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK imePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK infoPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// The file-choice dialog (open or save, with its three folder buttons); kind 0..7 are the data-file
// slots, 8 the settings file. Answers the full path, empty when cancelled.
std::wstring chooseFile(HWND owner, const std::wstring& title, const std::wstring& initialFolder,
                        const std::wstring& initialName, int kind, bool openMode);

// Tells on the page whether the duplicate newPath was made.
void showDuplicateResult(HWND page, const std::wstring& newPath, bool made);

// The thumb-key dialog OYAYUBIDIALOG: answers the chosen key code, negative when cancelled.
// `parameter` is the id of the button that opened it (4025, 4027 or 4144).
int runThumbKeyDialog(HWND owner, int parameter);
