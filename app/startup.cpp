#include "app/startup.h"

#include "app/appText.h"
#include "app/commandLine.h"
#include "core/japaneseText.h"
#include "core/platform.h"
#include "core/registry.h"

#include <shellapi.h>

HINSTANCE appInstance = nullptr;

const wchar_t instanceMutexName[] = L"Tavolin版1.3号系";

const wchar_t* captionText()
{
    return L"Tavolin 版1.3007号 構築#072";
}


std::wstring programFolder()
{
    return fromT(directoryOf(programPath()));
}

int relaunchOtherBuild()
{
#ifdef TVN_ANSI
    const bool rightPlatform = isWin9x();
    const wchar_t* const others[] = {L"OrvessaXP.exe", L"TavolinXP.exe"};
#else
    const bool rightPlatform = isWinNT();
    const wchar_t* const others[] = {L"OrvessaMe.exe", L"TavolinMe.exe"};
#endif
    if (rightPlatform) return 0;
    if (commandLineHasArgument(L"-tensou")) return 4;
    const std::wstring folder = programFolder();
    for (const wchar_t* other : others) {
        const INT_PTR result = reinterpret_cast<INT_PTR>(
            ShellExecuteW(nullptr, nullptr, other, L"-tensou", folder.c_str(), SW_SHOW));
        if (result > 32) return 2;
    }
    MessageBoxW(nullptr, L"誤ったTavolinを起動したので正しい方を呼び出そうとしましたが失敗しました。", L"Tavolin",
                MB_ICONWARNING);
    return 3;
}

smartMutex::smartMutex(const std::wstring& baseName)
{
#ifdef TVN_ANSI
    const std::wstring name = baseName;
#else
    const std::wstring name = fromT(sessionQualifiedName(toT(baseName)));
#endif
    m_handle = CreateMutexW(nullptr, TRUE, name.c_str());
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        close();
        throw mutexFail();
    }
}

smartMutex::~smartMutex()
{
    close();
}

void smartMutex::close()
{
    if (m_handle) {
        CloseHandle(m_handle);
        m_handle = nullptr;
    }
}

std::wstring appDataPath()
{
    const DWORD size = GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
    if (size == 0) return std::wstring();
    std::wstring value(size, L'\0');
    const DWORD written = GetEnvironmentVariableW(L"APPDATA", &value[0], size);
    if (written == 0 || written >= size) return std::wstring();
    value.resize(written);
    return value;
}

std::wstring userDataFolder()
{
    const std::wstring appData = appDataPath();
    if (appData.empty()) return programFolder();
    return fromT(joinPath(toT(appData), toT(L"Brannoch\\Tavolin13")));
}

std::wstring chooseSettingsFile()
{
    const std::wstring appData = appDataPath();
    if (!appData.empty()) {
        const std::wstring path =
            fromT(joinPath(joinPath(toT(appData), toT(L"Brannoch\\Tavolin13")), toT(L"default.ini")));
        // Creates an empty file when the folder exists; a missing folder is made by the save at exit.
        HANDLE file = CreateFileW(path.c_str(), 0, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return path;
    }
    return fromT(userIniPath(toT(L"tvn-"), directoryOf(programPath())));
}
