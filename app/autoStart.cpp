#include "app/autoStart.h"

#include "app/commandLine.h"
#include "core/platform/registry.h"

const wchar_t autoStartKey[] = L"Software\\Brannoch\\Tavolin13";
const wchar_t autoStartValue[] = L"autoStart";

namespace {

autoStartMessageBox& messageBoxSlot()
{
    static autoStartMessageBox box = [](const wchar_t* text, const wchar_t* caption, UINT type) {
        return MessageBoxW(nullptr, text, caption, type);
    };
    return box;
}

}  // namespace

void setAutoStartMessageBox(autoStartMessageBox box)
{
    messageBoxSlot() = std::move(box);
}

int readAutoStart()
{
    if (!registryKeyExists(HKEY_CURRENT_USER, autoStartKey)) return 1;
    DWORD value = 0;
    if (!readRegistryDword(HKEY_CURRENT_USER, autoStartKey, autoStartValue, value, 0)) return 2;
    return value == 1 ? 0 : 3;
}

bool writeAutoStart(bool on)
{
    return writeRegistryDword(HKEY_CURRENT_USER, autoStartKey, autoStartValue, on ? 1 : 2);
}

bool askAutoStart()
{
    const int answer = messageBoxSlot()(
        L"今後、Tavolin(版1.3号以降）が自動的に起動するようにしますか？\nこの設定は後から変更できます。",
        L"Tavolinの自動起動に関してお尋ねします。", MB_ICONQUESTION | MB_YESNO);
    const bool yes = answer == IDYES;
    if (!writeAutoStart(yes)) {
        messageBoxSlot()(L"自動起動設定の書き込みに失敗しました。", L"内部エラー", MB_ICONERROR);
    }
    return yes;
}

autoStartDecision autoStartStepFor(bool startedFromStartupFolder)
{
    if (startedFromStartupFolder) {
        if (registryKeyExists(HKEY_CURRENT_USER, autoStartKey)) {
            return readAutoStart() == 0 ? autoStartDecision::goOn : autoStartDecision::quitQuietly;
        }
        return askAutoStart() ? autoStartDecision::goOn : autoStartDecision::quitQuietly;
    }
    const int state = readAutoStart();
    if (state == 1 || state == 2) askAutoStart();
    return autoStartDecision::goOn;
}

autoStartDecision startupAutoStartStep()
{
    return autoStartStepFor(commandLineHasArgument(L"[-/][sS]"));
}
