// Every step of an update and of a removal fails in turn, or ends the run there as when the
// process is ended, through the system seam: whatever the step, the installation is wholly old or
// wholly new, the users' files and other programs' deletions at restart are as they were, the
// last box says complete only when it is, and a second run leaves exactly the new set, which a
// removal then removes. Built for both builds: the Unicode one on the NT seam, the ANSI one (in
// tests/setupAnsi) on the Windows 98/Me seam.
#include "core/platform/japaneseText.h"
#include "core/platform/tstring.h"
#include "fakeSetupSystem.h"
#include "setup/deferredDeletion.h"
#include "setup/install.h"
#include "setup/removal.h"
#include "testTempFolder.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

namespace {

const bool win98 = sizeof(TCHAR) == 1;
const wchar_t uninstallKeyName[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\brannochTvn13";
const std::string otherWininit = "[rename]\r\nNUL=C:\\KEEP.TXT\r\n\r\n[later]\r\nx=1\r\n";

std::string utf16(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// The files below a folder by relative name, with their bytes.
std::map<std::wstring, std::string> filesBelow(const std::wstring& folder, const std::wstring& prefix = L"")
{
    std::map<std::wstring, std::string> files;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return files;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (const auto& inner : filesBelow(folder + L"\\" + name, prefix + name + L"\\")) files.insert(inner);
        } else {
            files[prefix + name] = testTempFolder::readBytes(folder + L"\\" + name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return files;
}

struct scenario {
    const char* name;
    bool removal;         // a removal of the installation instead of an update
    bool administrator;   // else a normal user, whose deletions at restart are refused
    bool ownFolder;       // the installed copy run as its own setup
    int spelling = 0;     // the folder as the registry and the dialog hold it: 1 with a trailing
                          // backslash, 2 by its short name, 3 through another drive (Wine's Z:)
};

// The folder through Wine's drive of the whole file system; empty elsewhere.
std::wstring throughOtherDrive(const std::wstring& path)
{
    typedef char*(CDECL * unixName)(LPCWSTR);
    const auto call = reinterpret_cast<unixName>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    char* name = call ? call(path.c_str()) : nullptr;
    if (!name) return std::wstring();
    std::wstring other = L"Z:" + toWideString(name);
    HeapFree(GetProcessHeap(), 0, name);
    std::replace(other.begin(), other.end(), L'/', L'\\');
    return other;
}

// One run's world: the setup folder with the new set, the installation with the old set, a
// user's settings and layout beside it, the main program running with its file in use, and
// other programs' deletions at restart.
class world {
public:
    explicit world(const scenario& s) : m_scenario(s)
    {
        CreateDirectoryW(setup.file(L"data").c_str(), nullptr);
        CreateDirectoryW(destination.file(L"data").c_str(), nullptr);
        for (const auto& file : newSet()) testTempFolder::writeBytes(setup.file(file.first), file.second);
        for (const auto& file : oldSet()) testTempFolder::writeBytes(destination.file(file.first), file.second);
        for (const auto& file : userFiles()) testTempFolder::writeBytes(destination.file(file.first), file.second);
        // Written by earlier versions: lines naming the list itself and a user's settings.
        testTempFolder::writeBytes(destination.file(L"Uninstar.dat"), utf16(oldList()));
        // An old file an earlier update could neither delete nor book, listed; a file outside the
        // folder and its copy, which a list line leads to.
        testTempFolder::writeBytes(destination.file(L"TavolinXP.exe.0"), "older program");
        for (const auto& file : outsideFiles()) testTempFolder::writeBytes(places.file(file.first), file.second);
        // An installed file made read-only (copied from a CD, say) is still ours to replace.
        SetFileAttributesW(destination.file(L"data\\a.tvn_kana").c_str(), FILE_ATTRIBUTE_READONLY);
        system.administrator = s.administrator;
        system.restartDeletionFails = !s.administrator;
        system.win98 = win98;
        system.running = reinterpret_cast<HWND>(1);
        system.inUse = {toT(destination.file(L"TavolinXP.exe"))};
        system.windows = toT(windows.path());
        testTempFolder::writeBytes(windows.file(L"WININIT.INI"), otherWininit);
        // Another program's renames and deletions, one pair of its own malformed; and the deletion
        // of a file this update writes afresh, left by a removal before the restart.
        othersPending = {TEXT("\\??\\C:\\other.txt"), TEXT(""), TEXT("\\??\\C:\\from.txt"), TEXT("\\??\\C:\\to.txt")};
        system.pending = othersPending;
        if (!s.removal && !win98) {
            system.pending.push_back(TEXT("\\??\\") + toT(destination.file(L"added.txt")));
            system.pending.push_back(TEXT(""));
        }
        system.folders = {{CSIDL_PROGRAM_FILES, toT(places.path())}, {CSIDL_PERSONAL, toT(places.path())}};
        wchar_t shortName[MAX_PATH] = {};
        GetShortPathNameW(destination.path().c_str(), shortName, MAX_PATH);
        spelled = toT(s.spelling == 1   ? destination.path() + L"\\"
                                    : s.spelling == 2 ? shortName
                                    : s.spelling == 3 ? throughOtherDrive(destination.path())
                                                      : destination.path());
        system.dialogEdit = [this](installTarget& t) {
            t.baseFolder = spelled;
            t.subfolder.clear();
        };
        writeRegistryString(system.machineRoot(), TEXT("Software\\Brannoch\\Tavolin13"), TEXT("InstallDir"), spelled);
        writeRegistryString(system.machineRoot(), toT(uninstallKeyName), TEXT("UninstallString"), TEXT("x"));
    }

    // The read-only file and the current folder would keep their folders from being removed: left behind by the hundreds,
    // temporary folders make Wine's short names collide.
    ~world()
    {
        for (const auto& file : filesBelow(destination.path()))
            SetFileAttributesW(destination.file(file.first).c_str(), FILE_ATTRIBUTE_NORMAL);
        // A removal makes its folder the current one, which can't be removed.
        SetCurrentDirectoryW(places.path().substr(0, places.path().rfind(L'\\')).c_str());
    }

    static std::map<std::wstring, std::string> newSet()
    {
        return {{L"TavolinXP.exe", "new program"}, {L"data\\a.tvn_kana", "new kana"},
                {L"Tavolinの撤去Xp.exe", "new removal"}, {L"added.txt", "added"}};
    }
    static std::map<std::wstring, std::string> oldSet()
    {
        return {{L"TavolinXP.exe", "old program"}, {L"data\\a.tvn_kana", "old kana"},
                {L"Tavolinの撤去Xp.exe", "old removal"}, {L"old.txt", "kept from an older version"}};
    }
    static std::map<std::wstring, std::string> userFiles()
    {
        // Also named like old files put aside: a copy kept by hand, settings saved aside.
        return {{L"tvn-user.ini", "settings"}, {L"data\\mine.tvn_kana", "my layout"}, {L"data\\a.tvn_kana.1", "my copy"},
                {L"tvn-user.ini.2", "older settings"}};
    }
    static std::map<std::wstring, std::string> outsideFiles() { return {{L"x.txt", "other"}, {L"x.txt.0", "other's copy"}}; }
    std::wstring oldList() const
    {
        return L"TavolinXP.exe\r\ndata\\a.tvn_kana\r\nTavolinの撤去Xp.exe\r\nold.txt\r\ntvn-user.ini\r\nUninstar.dat\r\n"
               L"TavolinXP.exe.0\r\n..\\" + places.path().substr(places.path().rfind(L'\\') + 1) + L"\\x.txt\r\n";
    }
    // What the setup must never touch: the users' files and what lies outside the folder.
    void expectUsersFilesKept() const
    {
        for (const auto& file : userFiles()) EXPECT_EQ(testTempFolder::readBytes(destination.file(file.first)), file.second) << file.first;
        for (const auto& file : outsideFiles()) EXPECT_EQ(testTempFolder::readBytes(places.file(file.first)), file.second) << file.first;
    }

    // One run of the scenario (or a removal); true when it ended part way.
    bool run() { return run(m_scenario.removal); }
    bool run(bool removal)
    {
        system.boxes.clear();
        system.opened.clear();
        system.answers = {IDYES};
        try {
            if (removal)
                removeInstallation(system, toT(destination.path()));
            else
                result = runInstallation(system, toT(m_scenario.ownFolder ? destination.path() : setup.path()));
        } catch (const fakeSetupSystem::runEnded&) {
            return true;
        }
        return false;
    }

    // The set's files as installed now: wholly old, wholly new, or mixed.
    std::map<std::wstring, std::string> installed() const
    {
        std::map<std::wstring, std::string> set;
        const auto files = filesBelow(destination.path());
        for (const auto& entry : newSet()) {
            auto found = files.find(entry.first);
            if (found != files.end()) set[entry.first] = found->second;
        }
        return set;
    }
    static std::map<std::wstring, std::string> without(std::map<std::wstring, std::string> set, const wchar_t* name)
    {
        set.erase(name);
        return set;
    }

    std::wstring listText() const { return readUninstallList(toT(destination.path())); }
    bool listed(const std::wstring& line) const { return (L"\n" + listText()).find(L"\n" + line + L"\r\n") != std::wstring::npos; }

    // Deleted at the restart: in the pending renames, or on Windows 98/Me in WININIT.INI.
    bool booked(const std::wstring& path) const
    {
        for (size_t i = 0; i + 1 < system.pending.size(); i += 2) {
            const tstring plain = system.pending[i].substr(system.pending[i].compare(0, 4, TEXT("\\??\\")) == 0 ? 4 : 0);
            if (system.pending[i + 1].empty() && (sameRestartPath(plain, toT(path)) || isSameFile(plain, toT(path))))
                return true;
        }
        const std::string ini = testTempFolder::readBytes(windows.file(L"WININIT.INI"));
        return withoutRestartDeletions(ini, [&](const std::string& v) {
                   return sameRestartPath(toT(toWideString(v)), toT(path));
               }) != ini;
    }
    // Also by the short names WININIT.INI holds, of files since deleted.
    bool insideDestination(const tstring& path) const
    {
        const tstring plain = path.substr(path.compare(0, 4, TEXT("\\??\\")) == 0 ? 4 : 0);
        wchar_t shortFolder[MAX_PATH] = {};
        GetShortPathNameW(destination.path().c_str(), shortFolder, MAX_PATH);
        return !listedPathInside(toT(destination.path()), plain).empty() ||
               !listedPathInside(toT(shortFolder), plain).empty() || !listedPathInside(spelled, plain).empty();
    }
    // Other programs' entries, as they were.
    std::vector<tstring> othersNow() const
    {
        std::vector<tstring> others;
        for (size_t i = 0; i + 1 < system.pending.size(); i += 2) {
            if (system.pending[i + 1].empty() && insideDestination(system.pending[i])) continue;
            others.push_back(system.pending[i]);
            others.push_back(system.pending[i + 1]);
        }
        return others;
    }
    std::string othersWininit() const
    {
        return withoutRestartDeletions(testTempFolder::readBytes(windows.file(L"WININIT.INI")),
                                       [&](const std::string& v) { return insideDestination(toT(toWideString(v))); });
    }

    // Files the folder holds beyond the set, the list and the users' files: old files put aside,
    // which must each be deleted at restart or listed for the next setup or removal.
    std::vector<std::wstring> unaccounted() const
    {
        std::vector<std::wstring> stray;
        for (const auto& file : filesBelow(destination.path())) {
            // The list's own spare copies beside it are put right by the next run.
            if (newSet().count(file.first) || userFiles().count(file.first) || file.first == L"old.txt" ||
                file.first.compare(0, 9, L"Uninstar.") == 0)
                continue;
            if (booked(destination.file(file.first)) || listed(file.first) || journaled(destination.file(file.first))) continue;
            stray.push_back(file.first);
        }
        return stray;
    }

    // An old file put aside that the journal names, for the next run to put back or dispose of.
    bool journaled(const std::wstring& path) const
    {
        for (const journalEntry& entry : readJournal(toT(destination.path()))) {
            if (lstrcmpi(entry.aside.c_str(), toT(path).c_str()) == 0) return true;
        }
        return false;
    }

    std::wstring lastBox() const { return system.boxes.empty() ? std::wstring() : fromT(system.boxes.back().text); }

    testTempFolder setup, destination, windows, places;
    fakeSetupSystem system;
    std::vector<tstring> othersPending;
    tstring spelled;  // the folder as the registry and the dialog hold it
    int result = 0;

private:
    scenario m_scenario;
};

}  // namespace

TEST(failureSweep, everyStepOfAnUpdateAndARemovalFailsOrEndsTheRun)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const scenario scenarios[] = {
        {"update over the running program", false, true, false},
        {"a normal user's update, deletions at restart refused", false, false, false},
        {"the installed copy run as its own setup", false, true, true},
        {"the installed copy run as its own setup, its folder written with a trailing backslash", false, true, true, 1},
        {"the installed copy run as its own setup, its folder written by its short name", false, true, true, 2},
        {"the installed copy run as its own setup, its folder reached through another drive", false, true, true, 3},
        {"removal with the program's file in use", true, true, false},
    };
    for (const scenario& s : scenarios) {
        if (win98 && !s.administrator) continue;  // Windows 98/Me has no accounts
        // Another drive onto the same folder: Wine's Z: (where the ANSI build knows no folder identity).
        if (s.spelling == 3 && throughOtherDrive(L"C:\\").empty()) continue;
        int steps = 0;
        {
            world clean(s);
            clean.run();
            steps = clean.system.calls;
        }
        ASSERT_GT(steps, 0) << s.name;
        for (int k = 0; k <= steps; ++k) {
            for (const bool end : {false, true}) {
                if (end && k == 0) continue;
                SCOPED_TRACE(std::string(s.name) + (end ? ", ended at step " : ", failing step ") + std::to_string(k));
                world w(s);
                w.system.failAt = k;
                w.system.endRun = end;
                const bool ended = w.run();
                ASSERT_EQ(ended, end);
                w.expectUsersFilesKept();
                // A list the setup wrote never names itself nor the users' files.
                if (w.listText() != w.oldList()) {
                    EXPECT_FALSE(w.listed(L"Uninstar.dat"));
                    for (const auto& file : world::userFiles()) EXPECT_FALSE(w.listed(file.first)) << file.first;
                }
                const std::wstring box = w.lastBox();
                // An update that starts the program again says it is complete by showing no box.
                const bool saysComplete = box.find(L"完了いたしました") != std::wstring::npos ||
                                          (!s.removal && !ended && w.result == 0 && w.system.boxes.empty());
                if (!ended && !s.removal && !s.ownFolder) {
                    const auto now = w.installed();
                    const bool allNew = now == world::newSet();
                    const bool allOld = now == world::without(world::oldSet(), L"old.txt");
                    std::string seen;
                    for (const auto& file : now) seen += file.second + "; ";
                    // Mixed only where a second failure kept the first one's rollback from finishing
                    // (a Windows 98/Me update meets the program's file in use), and then said so.
                    const bool saysMixed = box.find(L"古いファイルを元に戻せませんでした。") != std::wstring::npos;
                    EXPECT_TRUE(allNew || allOld || saysMixed) << seen << box;
                    EXPECT_EQ(w.result, allNew ? 0 : -2);
                    EXPECT_EQ(saysMixed, !allNew && !allOld);
                    // A rollback leaves a read-only old file as it found it.
                    EXPECT_TRUE(!allOld || (GetFileAttributesW(w.destination.file(L"data\\a.tvn_kana").c_str()) & FILE_ATTRIBUTE_READONLY));
                    // A normal user's removal refuses to run: no box promises it.
                    EXPECT_TRUE(s.administrator || box.find(L"撤去の際に") == std::wstring::npos) << box;
                    // An old file put aside that can't go yet is deleted at restart or listed
                    // (unless the list itself could not be written, which the box says).
                    if (allNew && box.find(L")は元のままです。") == std::wstring::npos) {
                        EXPECT_EQ(w.unaccounted(), std::vector<std::wstring>());
                    }
                    // The program setup ended runs again, also when the update stopped.
                    EXPECT_EQ(w.system.opened, std::vector<tstring>{toT(w.destination.file(L"TavolinXP.exe"))});
                    if (allOld && !saysMixed) {
                        EXPECT_NE(box.find(L"何も変更していません。"), std::wstring::npos) << box;
                        EXPECT_EQ(w.listText(), w.oldList());
                        EXPECT_EQ(w.unaccounted(), std::vector<std::wstring>());
                    }
                }
                if (!ended && saysComplete && !s.removal && !s.ownFolder) {
                    EXPECT_EQ(w.installed(), world::newSet());
                    for (const auto& file : world::newSet()) {
                        EXPECT_TRUE(w.listed(file.first));
                        EXPECT_FALSE(w.booked(w.destination.file(file.first)));
                    }
                    EXPECT_EQ(w.unaccounted(), std::vector<std::wstring>());
                    if (s.administrator) {
                        EXPECT_EQ(w.system.registryValue(TEXT("Software\\Brannoch\\Tavolin13"), TEXT("InstallDir")),
                                  toT(w.destination.path()));
                        EXPECT_NE(w.system.registryValue(toT(uninstallKeyName), TEXT("DisplayName")), tstring());
                    }
                }
                if (!ended && s.ownFolder && w.result == 0 && box.empty()) {
                    EXPECT_EQ(w.listText(), L"TavolinXP.exe\r\ndata\\a.tvn_kana\r\nTavolinの撤去Xp.exe\r\nold.txt\r\n");
                }
                if (!ended && s.removal) {
                    // A list it says it kept is kept; complete means nothing listed stays.
                    if (box.find(L"完了していません") != std::wstring::npos &&
                        box.find(L"撤去情報と登録は削除しましたが") == std::wstring::npos) {
                        EXPECT_TRUE(testTempFolder::exists(w.destination.file(L"Uninstar.dat")));
                        // The entry still names a removal program that can run again.
                        const std::wstring program = w.destination.file(L"Tavolinの撤去Xp.exe");
                        EXPECT_TRUE(testTempFolder::exists(program));
                        EXPECT_FALSE(w.booked(program));
                    }
                    if (saysComplete) {
                        EXPECT_FALSE(testTempFolder::exists(w.destination.file(L"Uninstar.dat")));
                        EXPECT_FALSE(w.system.registryKeyExists(toT(uninstallKeyName)));
                    }
                }
                if (!ended) {
                    EXPECT_EQ(w.othersNow(), w.othersPending);
                    EXPECT_EQ(w.othersWininit(), otherWininit);
                }

                // A second run, without faults, finishes what the first left. The Windows 98/Me
                // update waits for the program's end; a normal user's old file put aside is out of
                // use once that program has ended.
                w.system.failAt = 0;
                w.system.calls = 0;
                if (win98 || !s.administrator) w.system.inUse.clear();
                if (!s.removal) {
                    ASSERT_FALSE(w.run());
                    EXPECT_EQ(w.othersNow(), w.othersPending);
                    EXPECT_EQ(w.othersWininit(), otherWininit);
                    EXPECT_EQ(w.result, 0);
                    if (!s.ownFolder) {
                        EXPECT_EQ(w.installed(), world::newSet());
                    }
                    EXPECT_EQ(w.unaccounted(), std::vector<std::wstring>());
                    // Only an old file put aside is left for the restart.
                    for (const auto& file : filesBelow(w.destination.path())) {
                        if (w.booked(w.destination.file(file.first))) {
                            EXPECT_EQ(world::newSet().count(file.first.substr(0, file.first.rfind(L'.'))), 1u) << file.first;
                        }
                    }
                    // The program runs again: no box unless something stays undone.
                    EXPECT_EQ(w.lastBox(), L"");
                    if (!s.administrator) continue;  // a normal user can't remove
                }
                // A removal that completed has nothing left for a second one.
                if (!s.removal || testTempFolder::exists(w.destination.file(L"Uninstar.dat"))) {
                    w.run(true);
                    EXPECT_NE(w.lastBox().find(L"Tavolinの撤去が完了いたしました。"), std::wstring::npos) << w.lastBox();
                }
                EXPECT_EQ(w.othersNow(), w.othersPending);
                EXPECT_EQ(w.othersWininit(), otherWininit);
                // The removal leaves the users' files, and only files in use deleted at restart.
                for (const auto& file : filesBelow(w.destination.path())) {
                    if (world::userFiles().count(file.first)) continue;
                    // The removal programs go only after the entry and the list: a removal ended
                    // between the two leaves the program that was running, with nothing naming it.
                    if (s.removal && ended && file.first == L"Tavolinの撤去Xp.exe") continue;
                    EXPECT_TRUE(w.booked(w.destination.file(file.first))) << file.first;
                    // Without a fault only the program's file is in use (a read-only one is not).
                    if (k == 0) {
                        EXPECT_EQ(file.first.compare(0, 13, L"TavolinXP.exe"), 0) << file.first;
                    }
                }
                EXPECT_FALSE(w.system.registryKeyExists(toT(uninstallKeyName)));
                w.expectUsersFilesKept();
            }
        }
    }
    CoUninitialize();
}

TEST(failureSweep, anUpdateEndedPartWayIsMadeWholeByTheNextEvenWhenThatFails)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const scenario scenarios[] = {
        {"update over the running program", false, true, false},
        {"the installed copy run as its own setup", false, true, true},
    };
    const DWORD started = GetTickCount();
    for (const scenario& s : scenarios) {
        if (win98 && !s.administrator) continue;
        // The first run ended at step k; the second then fails at step j, and a clean third follows.
        const auto endedAt = [&](int k) {
            std::unique_ptr<world> w(new world(s));
            w->system.failAt = k;
            w->system.endRun = true;
            EXPECT_TRUE(w->run());
            w->system.calls = 0;
            w->system.failAt = 0;
            w->system.endRun = false;
            return w;
        };
        int steps = 0;
        {
            world clean(s);
            clean.run();
            steps = clean.system.calls;
        }
        for (int k = 1; k <= steps; ++k) {
            const auto first = endedAt(k);
            // Only a run ended part way left work for the next (the others: the sweep above).
            bool partWay = first->installed() != world::newSet() &&
                           first->installed() != world::without(world::oldSet(), L"old.txt");
            for (const auto& file : filesBelow(first->destination.path())) {
                partWay = partWay || !(world::newSet().count(file.first) || world::userFiles().count(file.first) ||
                                       file.first == L"old.txt" || file.first == L"Uninstar.dat" ||
                                       file.first == L"TavolinXP.exe.0");
            }
            if (!partWay) continue;
            // All pairs would take many minutes: each step of the second run fails after every
            // fifteenth ending of the first, in turn, up to its last step.
            for (int j = 1 + k % 15;; j += 15) {
                SCOPED_TRACE(std::string(s.name) + ", ended at step " + std::to_string(k) + ", then failing step " +
                             std::to_string(j));
                const auto w = endedAt(k);
                w->system.failAt = j;
                EXPECT_FALSE(w->run());
                if (w->system.calls < j) break;
                w->expectUsersFilesKept();
                EXPECT_EQ(w->othersNow(), w->othersPending);
                EXPECT_EQ(w->othersWininit(), otherWininit);
                const std::wstring box = w->lastBox();
                const auto now = w->installed();
                const bool allNew = now == world::newSet();
                const bool allOld = now == world::without(world::oldSet(), L"old.txt");
                const bool saysMixed = box.find(L"古いファイルを元に戻せませんでした。") != std::wstring::npos;
                if (!s.ownFolder) {
                    EXPECT_TRUE(allNew || allOld || saysMixed) << box;
                    EXPECT_TRUE(w->result != 0 || allNew);
                    EXPECT_TRUE(saysMixed || w->unaccounted().empty());
                }
                // The third run, clean, leaves the new set and nothing of the runs before.
                w->system.failAt = 0;
                if (win98 || !s.administrator) w->system.inUse.clear();
                ASSERT_FALSE(w->run());
                EXPECT_EQ(w->result, 0);
                EXPECT_TRUE(s.ownFolder || w->installed() == world::newSet());
                EXPECT_EQ(w->unaccounted(), std::vector<std::wstring>());
                EXPECT_FALSE(testTempFolder::exists(w->destination.file(L"Uninstar.tvj")));
                EXPECT_EQ(w->lastBox(), L"");
                w->expectUsersFilesKept();
                EXPECT_EQ(w->othersNow(), w->othersPending);
            }
        }
    }
    std::printf("the sweep of two faults took %lu ms\n", static_cast<unsigned long>(GetTickCount() - started));
    CoUninitialize();
}
