#include "app/startup.h"

#include "app/appText.h"
#include "app/commandLine.h"
#include "core/platform/japaneseText.h"
#include "core/platform/platform.h"
#include "core/platform/registry.h"

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

#ifdef TVN_ANSI
const char* const otherBuildPrograms[2] = {"OrvessaXP.exe", "TavolinXP.exe"};
#else
const char* const otherBuildPrograms[2] = {"OrvessaMe.exe", "TavolinMe.exe"};
#endif

namespace {

// The hand-over runs first, and the Unicode build runs it on Windows 98/Me too, where the wide
// calls are stubs that fail: everything on its way uses the ANSI forms.

bool onRightPlatform()
{
#ifdef TVN_ANSI
    return isWin9x();
#else
    return isWinNT();
#endif
}

}  // namespace

int handOverDecision(bool rightPlatform, bool startedByOtherBuild, const std::function<bool(const char*)>& start)
{
    if (rightPlatform) return 0;
    if (startedByOtherBuild) return 4;
    for (const char* program : otherBuildPrograms) {
        if (start(program)) return 2;
    }
    return 3;
}

int relaunchOtherBuild()
{
    auto start = [](const char* program) {
        const std::string folder = programFolderAnsi();
        const INT_PTR result = reinterpret_cast<INT_PTR>(
            ShellExecuteA(nullptr, nullptr, program, "-tensou", folder.empty() ? nullptr : folder.c_str(), SW_SHOW));
        return result > 32;
    };
    const int decision = handOverDecision(onRightPlatform(), commandLineHasArgument(L"-tensou"), start);
    if (decision == 3) {
        MessageBoxW(nullptr, L"誤ったTavolinを起動したので正しい方を呼び出そうとしましたが失敗しました。", L"Tavolin",
                    MB_ICONWARNING);
    }
    return decision;
}

smartMutex::smartMutex(const std::wstring& baseName)
{
#ifdef TVN_ANSI
    const std::wstring name = baseName;
#else
    const std::wstring name = fromT(sessionQualifiedName(toT(baseName)));
#endif
    m_handle = CreateMutex(nullptr, TRUE, toT(name).c_str());
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
    const DWORD size = GetEnvironmentVariable(TEXT("APPDATA"), nullptr, 0);
    if (size == 0) return std::wstring();
    tstring value(size, TEXT('\0'));
    const DWORD written = GetEnvironmentVariable(TEXT("APPDATA"), &value[0], size);
    if (written == 0 || written >= size) return std::wstring();
    value.resize(written);
    return fromT(value);
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
        HANDLE file = CreateFile(toT(path).c_str(), 0, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return path;
    }
    return fromT(userIniPath(toT(L"tvn-"), directoryOf(programPath())));
}
