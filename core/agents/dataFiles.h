// The definition files the settings name, and the folder their relative paths start from.
#pragma once

#include <string>

// Relative definition-file paths are joined to this folder (the program folder in practice).
extern std::wstring dataBaseFolder;

// The eight data-file slots, numbered as the settings sheet numbers them: the layout tables of
// kinds 1, 2, 4, 8, the output-conversion tables 1, 2 and the key-swap tables 1, 2.
enum { dataFileSlotCount = 8 };
int dataFileSlotKind(int slot);
const char* dataFileSlotKey(int slot);
