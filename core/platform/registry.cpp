#include "core/platform/registry.h"

#include "core/platform/japaneseText.h"

#include <shlwapi.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace {

class registryKey {
public:
    registryKey() = default;
    ~registryKey()
    {
        if (m_key) RegCloseKey(m_key);
    }
    registryKey(const registryKey&) = delete;
    registryKey& operator=(const registryKey&) = delete;
    HKEY* out() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

// Windows 98/Me implements only the A registry calls; the names are CP932 there.
LONG openKey(HKEY root, const std::wstring& subKey, REGSAM access, registryKey& key)
{
#ifdef TVN_ANSI
    return RegOpenKeyExA(root, toNarrowString(subKey).c_str(), 0, access, key.out());
#else
    return RegOpenKeyExW(root, subKey.c_str(), 0, access, key.out());
#endif
}

}  // namespace

bool registryKeyExists(HKEY root, const std::wstring& subKey)
{
    registryKey key;
    return openKey(root, subKey, KEY_READ, key) == ERROR_SUCCESS;
}

bool readRegistryDword(HKEY root, const std::wstring& subKey, const std::wstring& valueName, DWORD& value,
                       DWORD defaultValue)
{
    registryKey key;
    DWORD data = 0;
    DWORD size = sizeof data;
    LONG result = openKey(root, subKey, KEY_READ, key);
    if (result == ERROR_SUCCESS) {
#ifdef TVN_ANSI
        result = RegQueryValueExA(key.get(), toNarrowString(valueName).c_str(), nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(&data), &size);
#else
        result = RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(&data), &size);
#endif
    }
    if (result != ERROR_SUCCESS) {
        value = defaultValue;
        return false;
    }
    value = data;
    return true;
}

bool writeRegistryDword(HKEY root, const std::wstring& subKey, const std::wstring& valueName, DWORD value)
{
    registryKey key;
    DWORD disposition = 0;
#ifdef TVN_ANSI
    char emptyClass[] = "";
    if (RegCreateKeyExA(root, toNarrowString(subKey).c_str(), 0, emptyClass, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, key.out(), &disposition) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.get(), toNarrowString(valueName).c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
#else
    wchar_t emptyClass[] = L"";
    if (RegCreateKeyExW(root, subKey.c_str(), 0, emptyClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, key.out(), &disposition) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.get(), valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
#endif
}

size_t copyBoundedW(wchar_t* destination, const wchar_t* source, size_t capacity)
{
    const size_t length = std::wcslen(source);
    if (capacity == 0) return length;
    const size_t count = length < capacity - 1 ? length : capacity - 1;
    std::wmemcpy(destination, source, count);
    destination[count] = L'\0';
    return length;
}

size_t copyBounded(char* destination, const char* source, size_t capacity)
{
    const size_t length = std::strlen(source);
    if (capacity == 0) return length;
    const size_t count = length < capacity - 1 ? length : capacity - 1;
    std::memcpy(destination, source, count);
    destination[count] = '\0';
    return length;
}

tstring sessionQualifiedName(const tstring& baseName)
{
#ifdef TVN_ANSI
    return baseName;
#else
    // Not every supported system has it: bind at run time.
    typedef BOOL(WINAPI * processIdToSessionIdFn)(DWORD, DWORD*);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    processIdToSessionIdFn toSession =
        kernel ? reinterpret_cast<processIdToSessionIdFn>(GetProcAddress(kernel, "ProcessIdToSessionId"))
               : nullptr;
    DWORD session = 0;
    if (!toSession || !toSession(GetCurrentProcessId(), &session)) return baseName;
    return baseName + std::to_wstring(session);
#endif
}

namespace {

HICON loadIcon(int resourceId, int size)
{
    return static_cast<HICON>(LoadImage(GetModuleHandle(nullptr), MAKEINTRESOURCE(resourceId), IMAGE_ICON, size,
                                        size, LR_DEFAULTCOLOR));
}

void setIcon(HWND window, int resourceId, WPARAM which, int size)
{
    HICON icon = resourceId == -1 ? nullptr : loadIcon(resourceId, size);
    SendMessage(window, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
}

void destroyIcon(HWND window, WPARAM which)
{
    HICON old = reinterpret_cast<HICON>(SendMessage(window, WM_SETICON, which, 0));
    if (old) DestroyIcon(old);
}

}  // namespace

HICON loadSmallIcon(int resourceId) { return loadIcon(resourceId, 16); }
void setSmallIcon(HWND window, int resourceId) { setIcon(window, resourceId, ICON_SMALL, 16); }
void setBigIcon(HWND window, int resourceId) { setIcon(window, resourceId, ICON_BIG, 32); }
void destroySmallIcon(HWND window) { destroyIcon(window, ICON_SMALL); }
void destroyBigIcon(HWND window) { destroyIcon(window, ICON_BIG); }

bool windowRectInParent(HWND window, RECT& rect)
{
    if (!GetWindowRect(window, &rect)) return false;
    HWND parent = GetParent(window);
    if (!parent) return false;
    POINT topLeft = {rect.left, rect.top};
    POINT bottomRight = {rect.right, rect.bottom};
    if (!ScreenToClient(parent, &topLeft)) return false;
    ScreenToClient(parent, &bottomRight);
    rect.left = topLeft.x;
    rect.top = topLeft.y;
    rect.right = bottomRight.x;
    rect.bottom = bottomRight.y;
    return true;
}

void deleteEditLine(HWND edit, int line)
{
    LRESULT start = SendMessage(edit, EM_LINEINDEX, static_cast<WPARAM>(line), 0);
    if (start < 0) return;
    LRESULT length = SendMessage(edit, EM_LINELENGTH, static_cast<WPARAM>(start), 0);
    SendMessage(edit, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(start + length + 2));
    SendMessage(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(TEXT("")));
}

void appendEditText(const tstring& text, HWND edit, int limit)
{
    if (text.empty()) return;
    int length = GetWindowTextLength(edit);
    if (length > limit) {
        SendMessage(edit, EM_SETSEL, 0, static_cast<LPARAM>((length / 3) * 2));
        SendMessage(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(TEXT("")));
        deleteEditLine(edit, 0);
        length = GetWindowTextLength(edit);
    }
    SendMessage(edit, EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
    tstring withCr;
    withCr.reserve(text.size() + text.size() / 16);
    for (TCHAR ch : text) {
        if (ch == TEXT('\n')) withCr += TEXT('\r');
        withCr += ch;
    }
    SendMessage(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(withCr.c_str()));
}

DWORD getDllVersion(const tstring& fileName)
{
    HMODULE library = LoadLibrary(fileName.c_str());
    if (!library) return 0;
    DWORD version = 0;
    DLLGETVERSIONPROC getVersion =
        reinterpret_cast<DLLGETVERSIONPROC>(GetProcAddress(library, "DllGetVersion"));
    if (getVersion) {
        DLLVERSIONINFO info;
        ZeroMemory(&info, sizeof info);
        info.cbSize = sizeof info;
        if (SUCCEEDED(getVersion(&info)))
            version = ((info.dwMajorVersion & 0xFFFF) << 16) | (info.dwMinorVersion & 0xFFFF);
    }
    FreeLibrary(library);
    return version;
}

namespace {

typedef BOOL(WINAPI* registerFn)(HWND, DWORD);
typedef BOOL(WINAPI* unregisterFn)(HWND);

BOOL WINAPI registerBinder(HWND window, DWORD flags);
BOOL WINAPI unregisterBinder(HWND window);

registerFn registerCall = registerBinder;
unregisterFn unregisterCall = unregisterBinder;

FARPROC wtsFunction(const char* name)
{
    HMODULE module = GetModuleHandle(TEXT("wtsapi32.dll"));
    return module ? GetProcAddress(module, name) : nullptr;
}

BOOL WINAPI registerBinder(HWND window, DWORD flags)
{
    LoadLibrary(TEXT("wtsapi32.dll"));  // kept loaded for the life of the process
    registerFn real = reinterpret_cast<registerFn>(wtsFunction("WTSRegisterSessionNotification"));
    if (!real) return FALSE;
    registerCall = real;
    return real(window, flags);
}

BOOL WINAPI unregisterBinder(HWND window)
{
    unregisterFn real = reinterpret_cast<unregisterFn>(wtsFunction("WTSUnRegisterSessionNotification"));
    if (!real) return FALSE;
    unregisterCall = real;
    return real(window);
}

}  // namespace

BOOL registerSessionNotification(HWND window, DWORD flags) { return registerCall(window, flags); }
BOOL unregisterSessionNotification(HWND window) { return unregisterCall(window); }
