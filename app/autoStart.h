// Whether a start from the Startup folder goes on, and the once-per-user question about it.
#pragma once

#include <windows.h>

#include <functional>

// HKCU key and value that hold each user's answer: 1 start with Windows, 2 do not.
extern const wchar_t autoStartKey[];
extern const wchar_t autoStartValue[];

// 0 enabled, 1 the key is missing, 2 the value is missing or unreadable, 3 any other value.
int readAutoStart();
// Stores 1 (on) or 2 (off), creating the key when needed. True when written.
bool writeAutoStart(bool on);

// Shows a message box and answers its result (IDYES ...). Tests put their own answer here.
using autoStartMessageBox = std::function<int(const wchar_t* text, const wchar_t* caption, UINT type)>;
void setAutoStartMessageBox(autoStartMessageBox box);

// Asks the user once, stores the answer, and answers true for yes.
bool askAutoStart();

enum class autoStartDecision { goOn, quitQuietly };
// Start-up's step: a start from the Startup folder ("-S" or "/s") goes on only when the user chose
// to start with Windows; a start by hand asks the question when it was never answered.
autoStartDecision startupAutoStartStep();
// The same decision for a given command line (the test seam of the step above).
autoStartDecision autoStartStepFor(bool startedFromStartupFolder);
