// The exception that fatal set-up failures throw, and the readable text of a Windows error code.
#pragma once

#include <windows.h>

#include <ios>
#include <sstream>
#include <string>

// Carries a wide message that the thrower composes with stream insertions (text, integers,
// and manipulators such as std::hex). Catchers take it by reference and read text().
class ErrorMessage {
public:
    ErrorMessage() = default;
    explicit ErrorMessage(const std::wstring& text) { m_stream << text; }
    // A copy gets a stream of its own holding the whole text, so it outlives its source.
    ErrorMessage(const ErrorMessage& other) { m_stream << other.text(); }
    ErrorMessage& operator=(const ErrorMessage& other);
    virtual ~ErrorMessage() = default;

    template <class T>
    ErrorMessage& operator<<(const T& value)
    {
        m_stream << value;
        return *this;
    }
    // Narrow text is CP932 throughout the program; the stream's own widening would garble it.
    ErrorMessage& operator<<(const char* text) { return *this << std::string(text); }
    ErrorMessage& operator<<(const std::string& text);
    ErrorMessage& operator<<(std::ios_base& (*manipulator)(std::ios_base&))
    {
        m_stream << manipulator;
        return *this;
    }
    ErrorMessage& operator<<(std::wostream& (*manipulator)(std::wostream&))
    {
        m_stream << manipulator;
        return *this;
    }

    std::wstring text() const { return m_stream.str(); }
    std::wstringstream& stream() { return m_stream; }

private:
    std::wstringstream m_stream;
};

// The hook library could not be loaded or bound. Caught as an ErrorMessage too.
class dllConnectError : public ErrorMessage {
public:
    using ErrorMessage::ErrorMessage;
    dllConnectError() = default;
};

// "10進" + the code in decimal + " : " + the system's text for it, its line break included.
// A code the system has no text for gives the prefix alone. Never fails.
std::wstring systemErrorText(DWORD code);
// The same text, written into `out`, which is returned.
std::wstring& systemErrorText(DWORD code, std::wstring& out);
