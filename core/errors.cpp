#include "core/errors.h"

#include "core/japaneseText.h"

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
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wostringstream text;
    text << L"10進" << static_cast<unsigned long>(code) << L" : ";
    if (length != 0 && buffer) text << std::wstring(buffer, length);
    if (buffer) LocalFree(buffer);
    out = text.str();
    return out;
}

std::wstring systemErrorText(DWORD code)
{
    std::wstring text;
    return systemErrorText(code, text);
}
