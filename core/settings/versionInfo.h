// What the program says about its own version: the settings-format version number, the version
// text (program, hook library, current input agent) and the header of the operation log.
#pragma once

#include <windows.h>

#include <string>

// The product's web site: the information page's button and the Uninstall entry's links.
const wchar_t productSiteAddress[] = L"https://tavolin.example.org/";

// Reads the ProductVersion of a file's version resource. Tests give texts of their own.
class versionProvider {
public:
    virtual ~versionProvider() = default;
    // The ProductVersion text of the Japanese (code page 932) string table. On failure the answer is
    // the bracketed text of the step that failed and `found` is false.
    virtual std::wstring productVersion(const std::wstring& path, bool& found) = 0;
};

// Reads the version resource of a file on disk.
class fileVersionProvider : public versionProvider {
public:
    std::wstring productVersion(const std::wstring& path, bool& found) override;
};

// The version number carried by a product version text: the first "digit, point, four digits" with
// the point dropped ("1.3007" gives 13007). False, and `number` untouched, when there is none.
bool parseVersionNumber(const std::wstring& productVersion, int& number);

class versionInfo {
public:
    // The number before any product version has been read.
    static const int defaultVersionNumber = 13000;

    // Composes the text at once from the two files' version resources.
    versionInfo(versionProvider& provider, std::wstring programPath, std::wstring libraryPath);

    int versionNumber() const { return m_versionNumber; }
    std::wstring versionText() const { return m_versionText; }

    // The file's ProductVersion, or the bracketed text of the step that failed. With storeNumber, the
    // number found in it replaces versionNumber().
    std::wstring readFileVersion(const std::wstring& path, bool storeNumber);
    // Builds the version text again, for example after agentName changed.
    void composeVersionText();

    // The header of the operation log, stamped with the local time now.
    std::wstring writeLogHeader(const std::wstring& programPath, const std::wstring& buildDate,
                                const std::wstring& buildTime) const;
    // The same, stamped with the given time.
    std::wstring writeLogHeader(const std::wstring& programPath, const std::wstring& buildDate,
                                const std::wstring& buildTime, const SYSTEMTIME& now) const;

    // The current input agent's display name; the main window stores it, then composes again.
    std::wstring agentName;

private:
    versionProvider& m_provider;
    std::wstring m_programPath;
    std::wstring m_libraryPath;
    std::wstring m_versionText;
    int m_versionNumber;
};

// The one instance, built on first use from the running program and the loaded hook library.
versionInfo& getVersionInfo();

// The compiler line of the log header: name and version ("%d.%02d") of what built the program.
std::wstring compilerDescription();
