// The settings store: one map of named text values, its typed access, and the settings file
// (lines of key "=" value) that save writes and load reads.
#pragma once

#include "core/settings/settingsDefaults.h"

#include <iosfwd>
#include <string>

// Every value is text: integers in decimal, booleans "true"/"false" (only the exact text "true"
// reads as true). Every access to the map of any store, from any thread, takes settingsLock();
// the lock is held for one map access at a time and never across a virtual call.
//
// WinOutputTimer packs two settings: the output pause in milliseconds is the value modulo 10000,
// and the pause is switched on when the value is 10000 or more (10070: on, 70 ms).
class settingsStore {
public:
    settingsStore();
    settingsStore(const settingsStore& other);
    settingsStore& operator=(const settingsStore& other);

    // The setters are virtual so that a derived store can refresh what it derives from the map;
    // setOutputTimer and setOutputTimerEnabled write through setInt.
    virtual void setString(const std::string& key, const std::wstring& text);
    virtual void setInt(const std::string& key, int value);
    virtual void setBool(const std::string& key, bool value);
    virtual void setOutputTimer(int milliseconds);
    virtual void setOutputTimerEnabled(bool on);
    // The settings-format version this program writes; a file with a larger one is refused.
    virtual int currentVersion() const = 0;
    // Receives each message of load, save and keepRefusedFile as CP932 text (its own line ends
    // included).
    virtual void reportError(const std::string& message) = 0;
    virtual ~settingsStore();

    // Reading a key that is not in the map inserts it with the empty text, so the next save
    // writes it as "key=".
    std::wstring getString(const std::string& key) const;
    bool getBool(const std::string& key) const;
    // Leading white space is skipped and the number ends at the first character that cannot
    // continue it ("12ab" reads 12). Text that does not begin with a number (empty, "abc")
    // reads 0; a number beyond the int range reads as the nearest int limit.
    int getInt(const std::string& key) const;

    // Every default key gets its default text (not through the setters); other keys stay.
    void setAllToDefault();
    // Sets one key to its default text through setString; a key without a default gets "".
    void resetToDefault(const std::string& key);

    // Writes the settings file: raises WinTvnVersion to currentVersion() and sets Title first
    // (through the setters), then one "key=value\n" line per entry in key order. False, with a
    // message, when the stream fails.
    bool save(std::wostream& out);
    // Reads a settings file into a new map and puts it in place of the old one when the Title
    // and version checks pass; keys the file lacks get their defaults. Duplicate keys are
    // reported and the later value wins. On false the store is unchanged.
    bool load(std::wistream& in);

    // True when the two maps differ in size or in any key or value.
    bool differsFrom(const settingsStore& other) const;

    // True when the last load refused a text that was not empty (wrong Title, unknown version)
    // or a stream that could not be read at all: the file it came from may hold something the
    // user wants back, so whoever first saves over that file keeps the old one beside it
    // (keepRefusedFile). An empty file is simply replaced. Cleared by a successful load and by
    // keepRefusedFile.
    bool lastLoadRefusedFile() const;
    // When the last load refused a file, copies the file at refusedPath to a free name beside it
    // ("<name>.bak", then "<name>.bak2" ...), reports where it went and clears the flag. True when
    // nothing needed keeping (no flag, or no such file) or the copy was made; false (with a
    // message, flag kept) when the copy failed, in which case the caller should not overwrite
    // the file.
    bool keepRefusedFile(const std::wstring& refusedPath);

protected:
    // Guarded by settingsLock(). mutable because reading a missing key inserts it.
    mutable settingsMap m_settings;

private:
    bool m_refusedFile;
};

// The name keepRefusedFile copies a refused settings file to: "<path>.bak", or "<path>.bak<n>"
// (n from 2) when that exists; empty when no free name is found.
std::wstring freeBackupName(const std::wstring& path);
