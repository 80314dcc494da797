#include "core/platform/errors.h"

#include "core/platform/japaneseText.h"

ErrorMessage& ErrorMessage::operator=(const ErrorMessage& other)
{
    if (this != &other) {
        std::wstring text = other.text();
        m_stream.str(std::wstring());
        m_stream.clear();
        m_stream << text;
    }
    return *this;
}

ErrorMessage& ErrorMessage::operator<<(const std::string& text)
{
    m_stream << toWideString(text);
    return *this;
}

std::wstring& systemErrorText(DWORD code, std::wstring& out)
{
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
    std::wostringstream text;
    text << L"10進" << static_cast<unsigned long>(code) << L" : ";
#ifdef TVN_ANSI
    // Windows 98/Me has only the narrow form; its text is in the system's code page.
    char* buffer = nullptr;
    DWORD length = FormatMessageA(flags, nullptr, code, language, reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (length != 0 && buffer) text << toWideString(std::string(buffer, length));
#else
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(flags, nullptr, code, language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length != 0 && buffer) text << std::wstring(buffer, length);
#endif
    if (buffer) LocalFree(buffer);
    out = text.str();
    return out;
}

std::wstring systemErrorText(DWORD code)
{
    std::wstring text;
    return systemErrorText(code, text);
}
