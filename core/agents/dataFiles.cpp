// Reading and writing the settings file and loading the definition files into the holder.

#include <windows.h>

#include <map>
#include <sstream>
#include <string>

#include "core/agents/dataFiles.h"
#include "core/files/definitionRewriter.h"
#include "core/link/dllLink.h"
#include "core/agents/inputHandler.h"
#include "core/platform/japaneseText.h"
#include "core/files/layoutReader.h"
#include "core/engine/layoutTable.h"
#include "core/platform/locks.h"
#include "core/platform/platform.h"
#include "core/settings/settingsHolder.h"
#include "core/files/substitutionTable.h"
#include "core/files/swapTable.h"
#include "core/files/textFile.h"

std::wstring dataBaseFolder;

namespace {

const int slotKinds[dataFileSlotCount] = {1, 2, 4, 8, 1, 2, 1, 2};
const char* const slotKeys[dataFileSlotCount] = {"VkConvertK", "VkConvertA", "VkConvertC",
                                                  "VkConvertN", "ConvertVk", "ConvertKVk",
                                                  "KeyDependsOnMachine", "AlwaysReplaceFile"};

tstring systemPath(const std::wstring& path) {
#ifdef TVN_ANSI
    return toNarrowString(path);
#else
    return path;
#endif
}

std::wstring wideText(const tstring& text) {
#ifdef TVN_ANSI
    return toWideString(text);
#else
    return text;
#endif
}

// A setting's path: relative ones start at the data folder.
std::wstring dataPath(const std::wstring& path) {
    return wideText(joinPath(systemPath(dataBaseFolder), systemPath(path)));
}

// A definition file that is missing, a folder, or locked must not read as an empty file.
bool fileReadable(const std::wstring& path) {
    if (path.empty()) return false;
    HANDLE file = CreateFile(systemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool isFile = GetFileInformationByHandle(file, &info) &&
                  !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(file);
    return isFile;
}

size_t definitionCount(const layoutTable& table) { return table.entries.size(); }
size_t definitionCount(const substitutionTable& table) {
    return table.entries.size() + table.keyPairs.size();
}
size_t definitionCount(const swapTable& table) { return table.swapPairs.size(); }

}  // namespace

// One loader for the three table kinds: open, log, parse outside the table lock (the agent
// thread looks tables up meanwhile), then swap the new table in under the lock. With keepOld, a
// table whose reader reported errors is not stored at all, so the agent never sees it.
template <class Table, class Parse>
static bool loadTable(settingsHolder& holder, std::map<int, Table>& tables, const std::wstring& path,
                      int kind, const wchar_t* title, bool keepOld, Parse parse) {
    textFileReader stream(systemPath(path));
    writeLogLine(*holder.log, 0, title + path + L" ]");
    if (stream.fail() || !fileReadable(path)) {
        writeLogLine(*holder.log, 0, L"…読込に失敗しました。 ");
        return false;
    }
    bool ok = true;
    Table table = parse(stream, ok);
    size_t count = definitionCount(table);
    if (ok || !keepOld) {
        scopedLock guard(tableLock());
        tables[kind] = std::move(table);
    }
    std::wostringstream line;
    line << count << L" 個の定義がありました。";
    writeLogLine(*holder.log, 1, line.str());
    return ok;
}

static bool loadLayout(settingsHolder& holder, const std::wstring& path, int kind, bool keepOld) {
    return loadTable(holder, holder.cache.layoutTables, path, kind, L"配列情報読込 [ ", keepOld,
                     [&](std::wistream& stream, bool& ok) {
                         layoutReader reader(kind, holder.log.get());
                         layoutTable table = readLayout(reader, stream);
                         ok = reader.ok();
                         return table;
                     });
}

static bool loadConversion(settingsHolder& holder, const std::wstring& path, int kind, bool keepOld) {
    return loadTable(holder, holder.cache.substitutionTables, path, kind, L"代行情報読込 [ ",
                     keepOld, [&](std::wistream& stream, bool& ok) {
                         substitutionReader reader(kind, holder.log.get());
                         substitutionTable table = readSubstitution(reader, stream);
                         ok = reader.ok();
                         return table;
                     });
}

static bool loadSwap(settingsHolder& holder, const std::wstring& path, int kind, bool keepOld) {
    return loadTable(holder, holder.cache.swapTables, path, kind, L"単純交換情報読込 [ ", keepOld,
                     [&](std::wistream& stream, bool& ok) {
                         swapReader reader(kind, holder.log.get());
                         swapTable table = readKeySwap(reader, stream);
                         ok = reader.ok();
                         return table;
                     });
}

static bool loadSlot(settingsHolder& holder, int slot, const std::wstring& path, bool keepOld) {
    int kind = slotKinds[slot];
    if (slot < 4) return loadLayout(holder, path, kind, keepOld);
    if (slot < 6) return loadConversion(holder, path, kind, keepOld);
    return loadSwap(holder, path, kind, keepOld);
}

int dataFileSlotKind(int slot) { return slot >= 0 && slot < dataFileSlotCount ? slotKinds[slot] : 0; }
const char* dataFileSlotKey(int slot) {
    return slot >= 0 && slot < dataFileSlotCount ? slotKeys[slot] : nullptr;
}

bool settingsHolder::loadLayoutFile(const std::wstring& path, int kind) {
    return loadLayout(*this, path, kind, false);
}
bool settingsHolder::loadConversionFile(const std::wstring& path, int kind) {
    return loadConversion(*this, path, kind, false);
}
bool settingsHolder::loadSwapFile(const std::wstring& path, int kind) {
    return loadSwap(*this, path, kind, false);
}

bool settingsHolder::loadSettingsFile(const std::wstring& path, const std::wstring& baseFolder) {
    if (!baseFolder.empty()) dataBaseFolder = baseFolder;
    writeLogLine(*log, 0, L"設定ファイル読込 [ " + path + L" ]");
    try {
        textFileReader in(systemPath(path));
        if (!load(in)) return false;
        loadAllDataFiles();
        settingsFilePath = path;
        return true;
    } catch (...) {
        return false;
    }
}

bool settingsHolder::saveFile(const std::wstring& path) {
    const std::wstring& target = path.empty() ? settingsFilePath : path;
    textFileWriter out(systemPath(target));
    if (!save(out)) {
        // Half a settings file must never replace a whole one.
        out.discard();
        return false;
    }
    out.save();
    return out.good();
}

bool settingsHolder::applyDefaults() {
    setAllToDefault();
    return loadAllDataFiles();
}

bool settingsHolder::loadAllDataFiles() {
    readCache();
    for (int slot = 0; slot < dataFileSlotCount; ++slot)
        loadSlot(*this, slot, dataPath(getString(slotKeys[slot])), false);
    unsigned sync = (getBool("SyncKanaLockWithIME") ? 2 : 0) + (getBool("CapsLockSync2IMEKana") ? 1 : 0);
    link().sendRequest(fromDll::setLockSync, sync, 0);
    applyImeSettings();
    changeInputHandler(*this);
    return true;
}

bool settingsHolder::reloadDataFile(const std::wstring& path, int slot) {
    if (slot < 0 || slot >= dataFileSlotCount) return false;
    // A table that fails to load is never stored, so the one in use stays.
    return loadSlot(*this, slot, dataPath(path), true);
}

bool settingsHolder::copyDataFile(const std::wstring& sourcePath, const std::wstring& targetPath,
                                  bool isKanaLayout) {
    textFileReader in(systemPath(sourcePath));
    textFileWriter out(systemPath(targetPath));
    if (in.fail() || !rewriteDefinition(in, out, isKanaLayout)) {
        // Nothing half-made reaches the disk, and an unreadable source makes no empty copy.
        out.discard();
        writeLogLine(*log, 0, targetPath + L" のデータ生成中に失敗しました。");
        return false;
    }
    out.save();
    if (!out.good()) {
        writeLogLine(*log, 0, targetPath + L" の書き込みに失敗しました。");
        return false;
    }
    return true;
}
