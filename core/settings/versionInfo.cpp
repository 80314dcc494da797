#include "core/settings/versionInfo.h"

#include <cstdio>
#include <sstream>
#include <vector>

#include <boost/regex.hpp>

#include "core/link/dllLink.h"
#include "core/platform/japaneseText.h"
#include "core/platform/platform.h"
#include "core/platform/tstring.h"

namespace {

}  // namespace

std::wstring fileVersionProvider::productVersion(const std::wstring& path, bool& found)
{
    found = false;
    const tstring file = toT(path);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSize(file.c_str(), &handle);
    if (size == 0)
        return L"(GetFileVersionInfoSizeが0を返しました)";
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfo(file.c_str(), 0, size, block.data()))
        return L"(GetFileVersionInfoが0を返しました)";
    void* value = nullptr;
    UINT length = 0;
    TCHAR query[] = TEXT("\\StringFileInfo\\041103A4\\ProductVersion");
    if (!VerQueryValue(block.data(), query, &value, &length) || value == nullptr)
        return L"(VerQueryValueが0を返しました)";
    // The length counts the terminator when there is one; never read past the block.
    const TCHAR* text = static_cast<const TCHAR*>(value);
    const TCHAR* end = reinterpret_cast<const TCHAR*>(block.data() + block.size());
    tstring answer;
    for (UINT i = 0; i < length && text + i < end && text[i] != TEXT('\0'); ++i)
        answer += text[i];
    found = true;
    return fromT(answer);
}

bool parseVersionNumber(const std::wstring& productVersion, int& number)
{
    static const boost::wregex pattern(L"\\d\\.\\d{4}");
    boost::wsmatch match;
    if (!boost::regex_search(productVersion, match, pattern))
        return false;
    std::wstring digits = match.str();
    digits.erase(1, 1);
    // \d also matches digits of other scripts; only ASCII digits make a number we can read.
    int value = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + (c - L'0');
    }
    number = value;
    return true;
}

versionInfo::versionInfo(versionProvider& provider, std::wstring programPath, std::wstring libraryPath)
    : m_provider(provider), m_programPath(std::move(programPath)), m_libraryPath(std::move(libraryPath)),
      m_versionNumber(defaultVersionNumber)
{
    composeVersionText();
}

std::wstring versionInfo::readFileVersion(const std::wstring& path, bool storeNumber)
{
    bool found = false;
    std::wstring text = m_provider.productVersion(path, found);
    if (found && storeNumber)
        parseVersionNumber(text, m_versionNumber);
    return text;
}

void versionInfo::composeVersionText()
{
    std::wostringstream out;
    out << L"\n";
#ifdef TVN_ANSI
    out << L"Tavolin (MBCS/Windows Me) : ";
#else
    out << L"Tavolin (UNICODE/Windows XP) : ";
#endif
    out << readFileVersion(m_programPath, true) << L"\n";
    out << fromT(fileNameOf(toT(m_libraryPath))) << L"(Tavolin用DLL): " << readFileVersion(m_libraryPath, false) << L"\n";
    out << agentName << L"\n";
    m_versionText = out.str();
}

std::wstring versionInfo::writeLogHeader(const std::wstring& programPath, const std::wstring& buildDate,
                                         const std::wstring& buildTime) const
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return writeLogHeader(programPath, buildDate, buildTime, now);
}

std::wstring versionInfo::writeLogHeader(const std::wstring& programPath, const std::wstring& buildDate,
                                         const std::wstring& buildTime, const SYSTEMTIME& now) const
{
    const std::wstring dashes(60, L'-');
    std::wostringstream out;
    out << dashes << m_versionText;
    out << L"作成時刻 : " << buildDate << L" " << buildTime << L"\n";
    out << L"コンパイラ : " << compilerDescription() << L"\n";
    out << programPath << L"\n";
    out << dashes << L"\n";
    out << now.wYear << L"年" << now.wMonth << L"月" << now.wDay << L"日 " << now.wHour << L"時"
        << now.wMinute << L"分" << now.wSecond << L"秒 " << L": 記録を開始します。" << L"\n";
    return out.str();
}

std::wstring compilerDescription()
{
    wchar_t version[32];
#if defined(__clang__)
    swprintf(version, 32, L"%d.%02d", __clang_major__, __clang_minor__);
    return std::wstring(L"Clang (MinGW-w64) ") + version;
#elif defined(__GNUC__)
    swprintf(version, 32, L"%d.%02d", __GNUC__, __GNUC_MINOR__);
    return std::wstring(L"GNU C++ (MinGW-w64) ") + version;
#else
    return L"unknown compiler";
#endif
}

versionInfo& getVersionInfo()
{
    static fileVersionProvider files;
    static versionInfo instance(files, fromT(programPath()), getDllLink().dllPath());
    return instance;
}
