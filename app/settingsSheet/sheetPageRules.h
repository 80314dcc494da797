// The rules of the file, time, practice and IME pages that need no window: the definition-file
// slots and their names, the setting a chosen file is stored as, the free name a save dialog
// answers, the time labels and the practice bits the practice page's controls compose.
#pragma once

#include <functional>
#include <string>

// One definition file the file pages choose, edit and reload; the slot is its position in
// dataFileSlots (the holder's reloadDataFile numbers them the same way).
struct dataFileSlot {
    const char* key;          // the setting that names the file
    int page;                 // 0 the layout page, 1 the conversion page
    int labelId;              // the static showing prefix + stored path
    const wchar_t* prefix;
    int chooseId;
    int editId;               // edit, or duplicate when the file is not a draft
    int reloadId;
};
const int dataFileSlotCount = 8;
extern const dataFileSlot dataFileSlots[dataFileSlotCount];
// The kind 8 of the file-choice dialog: the settings file.
const int settingsFileKind = 8;

// The slot whose choose, edit or reload button has this id; -1 for any other id.
int slotOfFileButton(int id);
// The name of the file kind in the choice dialog's title and filter (0..8); empty for others.
std::wstring fileKindName(int kind);
// The default extension of a kind, without the point; empty for other values.
std::wstring fileKindExtension(int kind);

// The setting a chosen data file is stored as: the path below the program folder when it lies
// there, else the path unchanged.
std::wstring dataFileSetting(const std::wstring& programFolder, const std::wstring& chosen);

// The name a save-mode choice answers: `name` with "." + ext unless it already ends so (in any
// letter case), then, while `exists` says a file of the name is there, "(n)" inserted before the
// extension with n = 1, 2, 3 ... (a.ext, a(1).ext, a(1)(2).ext ...).
std::wstring freeSaveName(const std::wstring& name, const std::wstring& ext,
                          const std::function<bool(const std::wstring&)>& exists);

// The rounds of the file-choice dialog. Each of its three folder buttons (4138 the program's data
// folder, 4139 the user's data folder, 4140 the caller's folder) closes it to reopen it in that
// folder; the user's folder is offered for creation first when it is missing.
struct fileChoiceRounds {
    // Shows the dialog in `folder`. True when the user confirmed a file (then in `chosen`); `button`
    // is the folder button that closed it, 0 when none did (also when the dialog never opened).
    std::function<bool(const std::wstring& folder, std::wstring& chosen, int& button)> showDialog;
    std::function<bool(const std::wstring& folder)> folderExists;
    // Asks whether to create the missing user folder, and creates it; false when declined.
    std::function<bool()> createUserFolder;
};
// Runs rounds from `firstButton`'s folder until no folder button closed the dialog; `folders` are
// those of 4138, 4139 and 4140. Answers the confirmed file, empty when cancelled.
std::wstring runFileChoice(int firstButton, const std::wstring (&folders)[3], const fileChoiceRounds& rounds);

// A time label: milliseconds as seconds with three decimals ("0.005秒", "0.100秒", "1.000秒").
std::wstring formatSeconds(int milliseconds);
// The label of the simultaneous-press window; 60000 ms and more is "wait as long as it takes".
std::wstring acceptTimerLabel(int milliseconds);
// AcceptTimer from its trackbar's milliseconds: the end of the scale (1000) stores 60000.
int acceptTimerFromTrackMs(int milliseconds);

// The practice page's boxes and list, each as the user set it.
struct practiceControls {
    bool dakuten = false;      // 4042, bit 2
    bool handakuten = false;   // 4043, bit 4
    bool smallKana = false;    // 4041, bit 8
    bool nasal = false;        // 4044, bit 16
    bool plainU = false;       // 4054, bit 64
    bool jisKana = false;      // 4072 item 1, bit 128
};
// The low byte of GameModeFlags the controls stand for; bits 1 and 32 have no control and are 0.
int practiceFlags(const practiceControls& controls);

// What the IME page does with an edited expression, given the link's error text for it (empty
// when it compiles) and the stored expression.
struct imeEditOutcome {
    std::wstring note;       // the text of the note above the edits
    bool store = false;      // the text becomes the setting
    bool restoreLink = false; // the link gets the stored expression back
};
imeEditOutcome imeExpressionEdited(const std::wstring& error, const std::wstring& text, const std::wstring& stored);
extern const wchar_t imeRegexNote[];

// The IME page's four expressions: edit, default button, setting and the link's list index.
struct imeListRow {
    int editId;
    int defaultId;
    const char* key;
    int listIndex;
};
const int imeListRowCount = 4;
extern const imeListRow imeListRows[imeListRowCount];
