#include "core/settings/settingsStore.h"

#include "core/platform/japaneseText.h"
#include "core/platform/locks.h"
#include "core/files/textFile.h"

#include <windows.h>

#include <climits>
#include <istream>
#include <ostream>
#include <sstream>

namespace {

const char titleKey[] = "Title";
const wchar_t titleText[] = L"Tavolin";
const char versionKey[] = "WinTvnVersion";
const char outputTimerKey[] = "WinOutputTimer";

// Messages of the store are CP932 text; the sources hold them as wide text.
std::string cp932(const std::wstring& text)
{
    return toNarrowString(text);
}

// Decimal text as a wide input stream reads an int: leading white space skipped, the number ends
// at the first character that cannot continue it. Text that does not start with a number gives
// 0, and a number out of range gives the nearest limit, so a huge version still counts as newer.
int parseInt(const std::wstring& text)
{
    std::wistringstream in(text);
    long long value = 0;
    in >> value;
    if (in.fail() && value != LLONG_MAX && value != LLONG_MIN) return 0;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

std::wstring intText(int value)
{
    std::wostringstream out;
    out << value;
    return out.str();
}

int clampToInt(long long value)
{
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

bool fileExists(const std::wstring& path)
{
#ifdef TVN_ANSI
    return GetFileAttributesA(toNarrowString(path).c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#endif
}

}  // namespace

settingsStore::settingsStore() : m_refusedFile(false) {}

settingsStore::settingsStore(const settingsStore& other) : m_refusedFile(other.m_refusedFile)
{
    scopedLock guard(settingsLock());
    m_settings = other.m_settings;
}

// The refused-file flag stays: it belongs to the file this store was loaded from, not to the
// values that are copied in.
settingsStore& settingsStore::operator=(const settingsStore& other)
{
    if (this != &other) {
        scopedLock guard(settingsLock());
        m_settings = other.m_settings;
    }
    return *this;
}

settingsStore::~settingsStore() = default;

void settingsStore::setString(const std::string& key, const std::wstring& text)
{
    scopedLock guard(settingsLock());
    m_settings[key] = text;
}

void settingsStore::setInt(const std::string& key, int value)
{
    std::wstring text = intText(value);
    scopedLock guard(settingsLock());
    m_settings[key] = text;
}

void settingsStore::setBool(const std::string& key, bool value)
{
    scopedLock guard(settingsLock());
    m_settings[key] = value ? L"true" : L"false";
}

void settingsStore::setOutputTimer(int milliseconds)
{
    const int old = getInt(outputTimerKey);
    setInt(outputTimerKey, clampToInt(static_cast<long long>(milliseconds) + (old / 10000) * 10000LL));
}

void settingsStore::setOutputTimerEnabled(bool on)
{
    if (on) {
        if (getInt(outputTimerKey) == 0) setInt(outputTimerKey, 10070);
        const int value = getInt(outputTimerKey);
        if (value < 10000) setInt(outputTimerKey, value + 10000);
    } else {
        setInt(outputTimerKey, getInt(outputTimerKey) % 10000);
    }
}

std::wstring settingsStore::getString(const std::string& key) const
{
    scopedLock guard(settingsLock());
    return m_settings[key];
}

bool settingsStore::getBool(const std::string& key) const
{
    return getString(key) == L"true";
}

int settingsStore::getInt(const std::string& key) const
{
    return parseInt(getString(key));
}

void settingsStore::setAllToDefault()
{
    scopedLock guard(settingsLock());
    fillDefaultSettings(m_settings);
}

void settingsStore::resetToDefault(const std::string& key)
{
    settingsMap defaults;
    fillDefaultSettings(defaults);
    const settingsMap::const_iterator found = defaults.find(key);
    setString(key, found == defaults.end() ? std::wstring() : found->second);
}

bool settingsStore::save(std::wostream& out)
{
    if (getInt(versionKey) < currentVersion()) setInt(versionKey, currentVersion());
    setString(titleKey, titleText);

    // Other threads' getters may insert keys while we write: write a copy taken under the lock.
    settingsMap snapshot;
    {
        scopedLock guard(settingsLock());
        snapshot = m_settings;
    }
    for (const settingsMap::value_type& entry : snapshot) {
        out << toWideString(entry.first) << L'=' << entry.second << L'\n';
        out.flush();
        if (out.fail()) {
            reportError(cp932(L"設定ファイル保存用データの作成中に問題が発生しました。"));
            return false;
        }
    }
    return true;
}

bool settingsStore::load(std::wistream& in)
{
    settingsMap loaded;
    // A stream that failed to open (missing or unreadable file) reads as an empty text; it still
    // counts as a refused file, since an unreadable file may hold settings worth keeping.
    bool sawText = in.fail();
    std::wstring line;
    while (in.good() && std::getline(in, line, L'\n')) {
        sawText = true;
        const std::wstring::size_type equals = line.find(L'=');
        std::string key;
        std::wstring value;
        if (equals == std::wstring::npos) {
            key = trimControlChars(toNarrowString(line));
            value = trimControlChars(line);
        } else {
            key = trimControlChars(toNarrowString(line.substr(0, equals)));
            value = trimControlChars(line.substr(equals + 1));
        }
        if (loaded.count(key) != 0) {
            reportError(key + cp932(L"の指定が重複しています。後に指定された ") + cp932(value) +
                        cp932(L" が有効となります。\n"));
        }
        loaded[key] = value;
    }

    const settingsMap::const_iterator title = loaded.find(titleKey);
    if (title == loaded.end() || title->second != titleText) {
        reportError(cp932(L"Tavolin用の設定ファイルであることを確認できません。\n"));
        m_refusedFile = sawText;
        return false;
    }

    const settingsMap::const_iterator versionEntry = loaded.find(versionKey);
    const std::wstring versionText = versionEntry == loaded.end() ? std::wstring() : versionEntry->second;
    const int version = parseInt(versionText);
    if (version > currentVersion()) {
        reportError(cp932(L"設定ファイルに未知の版号(") + cp932(versionText) + cp932(L")が指定されています。\n"));
        m_refusedFile = sawText;
        return false;
    }
    if (version <= 0) {
        reportError(cp932(L"設定ファイルに不正と思われる版号(") + cp932(versionText) +
                    cp932(L")が指定されています。\n"));
    }

    settingsMap defaults;
    fillDefaultSettings(defaults);
    for (const settingsMap::value_type& d : defaults) loaded.insert(d);  // keeps the file's values

    {
        scopedLock guard(settingsLock());
        m_settings.swap(loaded);
    }
    m_refusedFile = false;
    return true;  // the old map goes with `loaded`, outside the lock
}

bool settingsStore::differsFrom(const settingsStore& other) const
{
    scopedLock guard(settingsLock());
    return m_settings != other.m_settings;
}

bool settingsStore::lastLoadRefusedFile() const
{
    return m_refusedFile;
}

bool settingsStore::keepRefusedFile(const std::wstring& refusedPath)
{
    if (!m_refusedFile) return true;
    if (!fileExists(refusedPath)) {
        m_refusedFile = false;  // gone already: nothing left to overwrite
        return true;
    }
    const std::wstring backup = freeBackupName(refusedPath);
#ifdef TVN_ANSI
    const bool copied = !backup.empty() &&
        CopyFileA(toNarrowString(refusedPath).c_str(), toNarrowString(backup).c_str(), TRUE) != FALSE;
#else
    const bool copied = !backup.empty() && CopyFileW(refusedPath.c_str(), backup.c_str(), TRUE) != FALSE;
#endif
    if (!copied) {
        reportError(cp932(L"読み込めなかった設定ファイル " + refusedPath + L" の控えを作れませんでした。\n"));
        return false;
    }
    reportError(cp932(L"読み込めなかった設定ファイル " + refusedPath + L" を " + backup + L" として残しました。\n"));
    m_refusedFile = false;
    return true;
}

std::wstring freeBackupName(const std::wstring& path)
{
    std::wstring name = path + L".bak";
    for (int n = 2; fileExists(name); ++n) {
        if (n > 999) return std::wstring();
        name = path + L".bak" + intText(n);
    }
    return name;
}
