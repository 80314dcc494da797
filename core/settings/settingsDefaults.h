// The vocabulary of the settings file: every key the program reads, with its default text.
#pragma once

#include <cstddef>
#include <map>
#include <string>

// One settings map: narrow (CP932, in practice ASCII) key to wide value text, ordered by the
// key's bytes. The settings file is written in this order.
typedef std::map<std::string, std::wstring> settingsMap;

// One row of the default table.
struct defaultSetting {
    const char* key;
    const wchar_t* text;
};

// The default table in its fixed order (57 rows). "Title" and the saved version are not defaults:
// save writes them.
const defaultSetting* defaultSettingsTable();
std::size_t defaultSettingsCount();

// Assigns every default key its default text in table order, inserting missing keys and
// overwriting existing ones. Keys that are not in the table are left alone.
void fillDefaultSettings(settingsMap& map);
