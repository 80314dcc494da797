// Start-up services of the tray program: the build hand-over, the single-instance mutex, the
// settings file's place and the per-user data folder.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The instance handle of the program, for every window and resource call.
extern HINSTANCE appInstance;

// Caption of the program's message boxes and the tray tip.
const wchar_t* captionText();

// 0 go on, 2 the other build was started, 3 starting it failed, 4 this build was started by the
// other one on the wrong platform.
int relaunchOtherBuild();

// The programs of the other build, tried in this order (ASCII names).
extern const char* const otherBuildPrograms[2];
// The hand-over rule on its own: `start` starts one of otherBuildPrograms with "-tensou" and
// answers whether it was started. Same answers as relaunchOtherBuild, without its message box.
int handOverDecision(bool rightPlatform, bool startedByOtherBuild, const std::function<bool(const char*)>& start);

// Marks the running instance of this session. Throws mutexFail when another instance has it.
class smartMutex {
public:
    struct mutexFail {};
    explicit smartMutex(const std::wstring& baseName);
    ~smartMutex();
    smartMutex(const smartMutex&) = delete;
    smartMutex& operator=(const smartMutex&) = delete;
    void close();

private:
    HANDLE m_handle = nullptr;
};

// Base name of the single-instance mutex.
extern const wchar_t instanceMutexName[];

// The value of %APPDATA%; empty when it is not set.
std::wstring appDataPath();
// %APPDATA%\Brannoch\Tavolin13, or the program folder without %APPDATA%.
std::wstring userDataFolder();
// The settings file: default.ini in the user-data folder, else a per-user file in the program folder.
std::wstring chooseSettingsFile();
// The program folder.
std::wstring programFolder();
