#include "core/link/dllLink.h"

#include <imm.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "core/platform/errors.h"
#include "core/platform/japaneseText.h"
#include "core/platform/platform.h"
#include "core/platform/tstring.h"

namespace {


// Paths are CP932 in the ANSI build, which loads the library with the A call (Windows 98/Me).
const TCHAR* const libraryFileName = TEXT("TavolinXPDll.dll");
const TCHAR* const ansiLibraryFileName = TEXT("TavolinMeDll.dll");
const TCHAR* const fallbackLibraryFileName = TEXT("orvessa.dll");


std::wstring hex8(unsigned long value)
{
    wchar_t text[16];
    swprintf(text, 16, L"%08lx", value);
    return text;
}

std::wstring hexPlain(unsigned long value)
{
    wchar_t text[16];
    swprintf(text, 16, L"%lx", value);
    return text;
}

// Writes wide text into the log stream, whose characters are narrow (CP932) in the ANSI build.
void put(omsgstream& stream, const std::wstring& text)
{
#ifdef TVN_ANSI
    stream << toNarrowString(text);
#else
    stream << text;
#endif
}

// The IME takes wide virtual keys (VK_PACKET); not every SDK names this property bit.
const DWORD imePropAcceptWideVkey = 0x20;

// outputChar answers nonzero when the character was handed on: the library took the request.
int handedOn(const fromDll_waitInfoAdds* answer) { return answer->kind == answerDone ? 1 : 0; }

// Holds the log stream for one line at one level.
class logLineLock {
public:
    logLineLock(omsgstream& stream, int level) : m_stream(stream) { m_stream.lock(level); }
    ~logLineLock() { m_stream.unlock(); }
    logLineLock(const logLineLock&) = delete;
    logLineLock& operator=(const logLineLock&) = delete;

private:
    omsgstream& m_stream;
};

}  // namespace

dllLink::dllLink() : m_library(nullptr), m_entry(nullptr)
{
    load(fromT(directoryOf(programPath())));
}

dllLink::dllLink(const std::wstring& folder) : m_library(nullptr), m_entry(nullptr)
{
    load(folder);
}

void dllLink::load(const std::wstring& wideFolder)
{
#ifdef TVN_ANSI
    const tstring folder = toNarrowString(wideFolder);
    tstring path = joinPath(folder, ansiLibraryFileName);
#else
    const tstring folder = wideFolder;
    (void)ansiLibraryFileName;
    tstring path = joinPath(folder, libraryFileName);
#endif
    HMODULE library = LoadLibrary(path.c_str());
    if (!library) {
        path = joinPath(folder, fallbackLibraryFileName);
        library = LoadLibrary(path.c_str());
        if (!library) {
            DWORD code = GetLastError();
            dllConnectError error;
            error << L"TavolinDLLへの接続に失敗しました。エラーコード=" << static_cast<unsigned long>(code);
            throw error;
        }
    }
    FARPROC entry = GetProcAddress(library, njankotanExportName);
    if (!entry) {
        DWORD code = GetLastError();
        // Nothing can use a library without its entry; let it go, so that a later attempt (the
        // accessor tries again) loads the file afresh.
        FreeLibrary(library);
        dllConnectError error;
        error << L"TavolinDLLへは接続しましたが、制御送受信部の接続には失敗しました。エラーコード="
              << static_cast<unsigned long>(code);
        throw error;
    }
    m_library = library;
    m_entry = reinterpret_cast<njankotanFunction>(entry);
    m_libraryPath = fromT(path);
    startValues();
}

dllLink::dllLink(njankotanFunction entry, std::wstring libraryPath)
    : m_library(nullptr), m_entry(entry), m_libraryPath(std::move(libraryPath))
{
    startValues();
}

void dllLink::startValues()
{
    m_foregroundWindow = GetForegroundWindow();
    m_conversionMode = 0;
    m_sentenceMode = 0;
    m_imeStatusBits = 0;
    m_keyboardLayout = nullptr;
    m_acceptsWideVkey = false;
    m_takesCompStr = false;
    m_consoleInFront = false;
    m_focusChanged = true;
    m_logStream = std::make_shared<omsgstream>(0x8066, nullptr);
    m_mainWindowHandle = nullptr;
    m_mustWait = false;
    m_pendingKeyTick = 0;
    m_pendingKeyVk = 0;
    m_lastLoggedTopWindow = nullptr;
}

dllLink::~dllLink()
{
    if (m_library) {
        if (m_entry)
            m_entry(fromDll::stopHooks, nullptr, 0, 0);
        FreeLibrary(m_library);
    }
}

fromDll_waitInfoAdds* dllLink::sendRequest(fromDll::requestToDll code, unsigned int w, long l)
{
    if (!m_entry) {
        static fromDll_waitInfoAdds unbound = {};
        return &unbound;
    }
    fromDll_waitInfoAdds* answer = m_entry(code, nullptr, w, l);
    // Only an answer that asks for a wait arms the output-wait test. A request from another thread
    // (the settings sheet, the tray) answering "no wait" must not cancel the wait that the agent's
    // last posted action needs; the wait test itself clears the flag once the wait is over.
    if (answer && answer->mustWait) {
        scopedLock hold(m_lock);
        m_mustWait = true;
    }
    if (!answer) {
        static fromDll_waitInfoAdds none = {};
        return &none;
    }
    return answer;
}

void dllLink::logLine(int level, const std::wstring& text)
{
    logStreamPtr stream;
    {
        scopedLock hold(m_lock);
        stream = m_logStream;
    }
    logLineLock line(*stream, level);
    put(*stream, text);
    *stream << std::endl;
}

// The library let the key pass unconverted and tells of it late: it already reached the application.
static bool passedByLibrary(const hookKeyEvent& event)
{
    return ((event.keyFlags >> 16) & modifierPassedOn) != 0;
}

bool dllLink::handleReport(const fromDll_waitInfoAdds& report)
{
    switch (report.kind) {
    case reportEmpty:
    case reportStop:
        return true;
    case reportKeyboardLayout:
        keyboardLayoutReport(layoutFromWire(report.info1));
        break;
    case reportStateBits:
        stateBitsReport(report.info1, report.info2);
        break;
    case reportConversionMode:
        conversionModeReport(report.info1, report.info2);
        break;
    case reportFocusWindow:
        focusWindowReport(windowFromWire(report.info1));
        break;
    case reportTsfOff: {
        const wchar_t* text;
        switch (report.info1) {
        case 1: text = L"TSF の無効化に成功したようです。"; break;
        case 2: text = L"TSF の無効化に失敗しました。"; break;
        case 3: text = L"IMM32.DLL に TSF 無効化関数が存在しません。"; break;
        case 4: text = L"IMM32.DLL への接続を試みましたが失敗しました。"; break;
        default: text = L"forceTsfOffReport に関する内部エラーが発生しました。"; break;
        }
        logLine(1, text);
        break;
    }
    case reportKeyTime: {
        scopedLock hold(m_lock);
        m_pendingKeyTick = report.info1;
        m_pendingKeyVk = report.info2;
        break;
    }
    case reportKeyData: {
        const unsigned int high = (static_cast<unsigned int>(report.info2) & 0xFFFFu) << 16 |
                                  (static_cast<unsigned int>(report.info1) >> 16 & 0xFFFFu);
        hookKeyEvent event = {static_cast<int>(high & 0xFF), static_cast<int>(high), 0, 0};
        bool taken = false;
        {
            scopedLock hold(m_lock);
            event.vk = m_pendingKeyVk;
            event.tick = m_pendingKeyTick;
            if (m_keyEventTaker) {
                m_keyEvents.push_back(event);
                taken = true;
            }
        }
        // Swallowed just before the classic agent stopped: nobody would ever take it.
        if (!taken && !passedByLibrary(event)) passKeyOn(event);
        break;
    }
    case reportProcessIds:
        logLine(1, L"プロセスID: " + hexPlain(static_cast<unsigned long>(report.info1)) + L"  スレッドID: " +
                       hexPlain(static_cast<unsigned long>(report.info2)));
        break;
    case reportDebugIds:
        logLine(1, L"デバッグID1: " + hexPlain(static_cast<unsigned long>(report.info1)) + L"  デバッグID2: " +
                       hexPlain(static_cast<unsigned long>(report.info2)));
        break;
    default:
        break;
    }
    return false;
}

void dllLink::keyboardLayoutReport(HKL layout)
{
    {
        scopedLock hold(m_lock);
        if (layout == m_keyboardLayout)
            return;
    }
    const imeFacts facts = describeLayout(layout);
    const bool wideVkey = facts.acceptsWideVkey;
    const bool compStr = facts.takesCompStr;
    const std::wstring& description = facts.description;

    std::wstring line;
    int level;
    {
        scopedLock hold(m_lock);
        m_acceptsWideVkey = wideVkey;
        m_takesCompStr = compStr;
        if (!description.empty()) {
            m_imeName = description;
            line = L"IME変更 : " + description + m_imeLists.classifyIme(m_imeName);
            level = 1;
        } else {
            TCHAR language[128] = TEXT("");
            const LCID locale = MAKELCID(LOWORD(reinterpret_cast<ULONG_PTR>(layout)), SORT_DEFAULT);
            GetLocaleInfo(locale, LOCALE_SLANGUAGE, language, 128);
            m_imeName = L"0x" + hex8(static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(layout))) + L"(" +
                        fromT(language) + L")";
            line = m_imeName + L"のIME名称を取得できませんでした。\n" + m_imeLists.classifyIme(m_imeName);
            level = 0;
        }
        m_keyboardLayout = layout;
    }
    logLine(level, line);
    sendRequest(fromDll::postTvnMessage, reportImeStatus, 0);
}

dllLink::imeFacts dllLink::describeLayout(HKL layout)
{
    imeFacts facts{false, false, std::wstring()};
    if (ImmIsIME(layout)) {
        facts.acceptsWideVkey = (ImmGetProperty(layout, IGP_PROPERTY) & imePropAcceptWideVkey) != 0;
        facts.takesCompStr = (ImmGetProperty(layout, IGP_SETCOMPSTR) & SCS_CAP_COMPSTR) != 0;
    }
    // Counted in the build's text units (bytes in the ANSI build).
    const UINT length = ImmGetDescription(layout, nullptr, 0);
    std::vector<TCHAR> buffer(length + 1, 0);
    const UINT copied = ImmGetDescription(layout, buffer.data(), length + 1);
    if (copied != 0)
        facts.description = fromT(tstring(buffer.data(), std::min<size_t>(copied, length)));
    return facts;
}

void dllLink::stateBitsReport(int bits, int mask)
{
    std::wostringstream text;
    HWND mainWindow;
    {
        scopedLock hold(m_lock);
        const int updated = bits | (m_imeStatusBits & ~mask);
        if (updated == m_imeStatusBits)
            return;
        auto mark = [&](int bit, const wchar_t* on, const wchar_t* off) {
            if (mask & bit)
                text << ((bits & bit) ? on : off);
        };
        text << L"IME状態:";
        mark(0x800, L"【○】", L"【×】");
        mark(0x100, L"{候補表示}", L"{候補消去}");
        mark(0x200, L"[保持]", L"[一掃]");
        mark(0x1, L"+caps", L"-caps");
        mark(0x2, L"+kana", L"-kana");
        mark(0x4, L"+num", L"-num");
        mark(0x8, L"+scroll", L"-scroll");
        if (m_imeLists.candidateThrough())
            mark(0x400, L"<風候補選択>", L"<風かな入力>");
        m_imeStatusBits = updated;
        mainWindow = m_mainWindowHandle;
    }
    logLine(1, text.str());
    PostMessage(mainWindow, 0x8075, 0, 0);
}

void dllLink::conversionModeReport(int conversion, int sentence)
{
    bool conversionChanged;
    bool sentenceChanged;
    HWND mainWindow;
    {
        scopedLock hold(m_lock);
        conversionChanged = conversion != m_conversionMode;
        sentenceChanged = sentence != m_sentenceMode;
        m_conversionMode = conversion;
        m_sentenceMode = sentence;
        mainWindow = m_mainWindowHandle;
    }
    if (conversionChanged) {
        std::wstring text = L"入力モード: ";
        text += (conversion & IME_CMODE_FULLSHAPE) ? L"全" : L"半";
        text += (conversion & IME_CMODE_KATAKANA) ? L"片" : L"－";
        text += (conversion & IME_CMODE_NATIVE) ? L"－" : L"英";
        text += (conversion & IME_CMODE_NOCONVERSION) ? L"直" : L"－";
        text += (conversion & IME_CMODE_FIXED) ? L"固" : L"－";
        text += (conversion & IME_CMODE_ROMAN) ? L"Ｒ" : L"か";
        text += (conversion & IME_CMODE_CHARCODE) ? L"碼" : L"－";
        text += (conversion & IME_CMODE_EUDC) ? L"◆" : L"－";
        logLine(1, text);
        PostMessage(mainWindow, 0x8077, 0, 0);
    }
    if (sentenceChanged) {
        std::wstring text = L"文節モード: ";
        if (sentence & IME_SMODE_AUTOMATIC) text += L"自動変換 ";
        if (sentence & IME_SMODE_PHRASEPREDICT) text += L"後続文字予測 ";
        if (sentence & IME_SMODE_PLAURALCLAUSE) text += L"句読点変換 ";
        if (sentence & IME_SMODE_SINGLECONVERT) text += L"単漢字変換 ";
        if (sentence & IME_SMODE_CONVERSATION) text += L"会話/チャット ";
        if (sentence == 0) text += L"情報なし ";
        logLine(1, text);
    }
}

void dllLink::focusWindowReport(HWND window)
{
    {
        scopedLock hold(m_lock);
        m_focusChanged = true;
        if (!m_consoleInFront && (window == m_foregroundWindow || window == nullptr))
            return;
        m_foregroundWindow = window;
        if (window == nullptr)
            return;
    }
    HWND top = window;
    for (HWND parent = GetParent(top); parent != nullptr; parent = GetParent(top))
        top = parent;
    {
        scopedLock hold(m_lock);
        if (top == m_lastLoggedTopWindow)
            return;
        m_lastLoggedTopWindow = top;
    }
    // The title is asked for without the link's lock: the window may belong to this program's own
    // user-interface thread, which may itself be waiting for the lock.
    const std::wstring prefix = L"キーボードフォーカス先 : ";
    DWORD_PTR length = 0;
    // Lengths are in the build's text units (bytes in the ANSI build).
    if (SendMessageTimeout(top, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 500, &length)) {
        if (length > 450)
            length = 450;
        std::vector<TCHAR> buffer(2 * length + 1, 0);
        DWORD_PTR copied = 0;
        if (length > 0 &&
            SendMessageTimeout(top, WM_GETTEXT, static_cast<WPARAM>(2 * length), reinterpret_cast<LPARAM>(buffer.data()),
                               SMTO_ABORTIFHUNG, 500, &copied) &&
            copied <= length) {
            std::wstring title = fromT(tstring(buffer.data(), copied));
            for (size_t i = 0; i < title.size(); ++i) {
                if (title[i] < 32 && title[i] != L'\t') {
                    title.resize(i);
                    break;
                }
            }
            logLine(1, prefix + title);
            return;
        }
    }
    logLine(1, prefix + L"0x" + hex8(static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window))));
}

int dllLink::outputChar(wchar_t ch)
{
    bool composition;
    bool throughLibrary;
    HWND target;
    {
        scopedLock hold(m_lock);
        composition = !m_imeLists.cantUseScsSetstr() && m_takesCompStr &&
                      (!m_imeLists.cantAcceptSymbolDirect() || isJapaneseLetter(ch));
        if (m_conversionMode & IME_CMODE_KATAKANA)
            ch = katakanaOf(ch);
        throughLibrary = !m_acceptsWideVkey && (m_imeStatusBits & 0x800) != 0;
        target = m_foregroundWindow;
    }
#ifdef TVN_ANSI
    // The ANSI build always types through the library, as CP932 bytes.
    const std::string bytes = toNarrowString(std::wstring(1, ch));
    const unsigned char first = bytes.size() > 0 ? static_cast<unsigned char>(bytes[0]) : 0;
    const unsigned char second = bytes.size() > 1 ? static_cast<unsigned char>(bytes[1]) : 0;
    (void)throughLibrary;
    if (composition)
        return handedOn(sendRequest(fromDll::postTvnMessage, addMoziToImeFunc, first | second << 8));
    // WM_IME_CHAR carries a double-byte character lead byte first, a single-byte one as itself.
    const unsigned int w = bytes.size() > 1 ? (first << 8 | second) : first;
    return handedOn(sendRequest(fromDll::sendImeChar, w, toWire(target)));
#else
    if (throughLibrary) {
        if (composition)
            return handedOn(sendRequest(fromDll::postTvnMessage, addMoziToImeFunc, ch));
        return handedOn(sendRequest(fromDll::sendImeChar, ch, toWire(target)));
    }
    return static_cast<int>(typeUnicodeChar(ch));
#endif
}

UINT dllLink::typeUnicodeChar(wchar_t ch)
{
    // The key goes down and up again: a Unicode key left down keeps VK_PACKET pressed for the
    // whole session.
    INPUT inputs[2] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = 0;
        input.ki.wScan = ch;
        input.ki.dwFlags = KEYEVENTF_UNICODE;
    }
    inputs[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    return SendInput(2, inputs, sizeof(INPUT));
}

HWND dllLink::lastForegroundWindow()
{
    scopedLock hold(m_lock);
    return m_foregroundWindow;
}

bool dllLink::kanaLayoutAllowed()
{
    scopedLock hold(m_lock);
    if (m_imeStatusBits & 0x2)
        return true;
    if (m_imeLists.alwaysThrough() || m_consoleInFront || !(m_imeStatusBits & 0x800))
        return false;
    if (m_imeLists.candidateThrough())
        return !(m_imeStatusBits & 0x400);
    return (m_conversionMode & IME_CMODE_NATIVE) != 0;
}

bool dllLink::alphabetLayoutAllowed()
{
    scopedLock hold(m_lock);
    if (m_imeLists.candidateThrough())
        return !(m_imeStatusBits & 0x400);
    return true;
}

bool dllLink::isImeOpen()
{
    scopedLock hold(m_lock);
    return (m_imeStatusBits & 0x800) != 0;
}

bool dllLink::isRomajiMode()
{
    scopedLock hold(m_lock);
    const bool kanaLock = (m_imeStatusBits & 0x2) != 0;
    if (!(m_imeStatusBits & 0x800))
        return !kanaLock;
    return !kanaLock && (m_conversionMode & IME_CMODE_ROMAN) != 0;
}

bool dllLink::isCapsOn()
{
    scopedLock hold(m_lock);
    return (m_imeStatusBits & 0x1) != 0;
}

bool dllLink::isKanaOn()
{
    scopedLock hold(m_lock);
    return (m_imeStatusBits & 0x2) != 0;
}

bool dllLink::isFullShape()
{
    scopedLock hold(m_lock);
    return (m_conversionMode & IME_CMODE_FULLSHAPE) != 0;
}

bool dllLink::isAlphanumericMode()
{
    scopedLock hold(m_lock);
    return (m_conversionMode & IME_CMODE_NATIVE) == 0;
}

bool dllLink::isKatakanaMode()
{
    scopedLock hold(m_lock);
    return (m_conversionMode & IME_CMODE_KATAKANA) != 0;
}

bool dllLink::useImeComposition()
{
    scopedLock hold(m_lock);
    return (m_imeStatusBits & 0x800) &&
           (m_acceptsWideVkey || (m_takesCompStr && !m_imeLists.cantUseScsSetstr())) &&
           (m_conversionMode & IME_CMODE_FULLSHAPE);
}

bool dllLink::dllEventJustHappened()
{
    {
        scopedLock hold(m_lock);
        if (!m_mustWait)
            return false;
    }
    const int deadline = sendRequest(fromDll::readWaitTimer, 0, 0)->info1;
    const int left = static_cast<int>(static_cast<DWORD>(deadline) - GetTickCount());
    // The library arms at most its 100 ms wait, and the record it keeps is shared with every
    // process of the session: a deadline further ahead was written by someone else and would
    // stop all output. It is cleared, not waited for.
    if (deadline != 0 && left > longestLibraryWait) {
        bool first = false;
        {
            scopedLock hold(m_lock);
            first = !m_corruptWaitLogged;
            m_corruptWaitLogged = true;
        }
        if (first) {
            std::wostringstream line;
            line << L"フックDLLの出力待ち期限が " << left << L" ms 先という異常値でした。待たずに解除します。";
            logLine(0, line.str());
        }
    } else if (deadline != 0 && left > 0) {
        return true;  // still waiting: ask again next time
    }
    if (deadline != 0)
        sendRequest(fromDll::setWaitTimer, 0, 0);
    scopedLock hold(m_lock);
    m_mustWait = false;
    return false;
}

bool dllLink::isConsoleForeground(bool force)
{
    {
        scopedLock hold(m_lock);
        if (!force && !m_focusChanged && !m_consoleInFront)
            return false;
        m_focusChanged = false;
    }
    HWND window = GetForegroundWindow();
    TCHAR className[19] = TEXT("");
    const int length = GetClassName(window, className, 19);
    scopedLock hold(m_lock);
    if (length == 18) {
        m_consoleInFront = tstring(className) == TEXT("ConsoleWindowClass");
        m_foregroundWindow = window;
    } else {
        m_consoleInFront = false;
    }
    return m_consoleInFront;
}

void dllLink::setImeList(std::wstring& error, int index, const std::wstring& pattern)
{
    if (index < 0 || index > 3) {
        error = L"IME名リストの番号が範囲外です。";
        return;
    }
    // The lists replace a pattern whole under their own lock, and the classification below runs
    // under the link's, so the agent thread never matches against a half-built pattern nor reads
    // flags of a half-done classification.
    std::wstring line;
    {
        scopedLock hold(m_lock);
        error = m_imeLists.assignImeRegex(index, pattern);
        if (!error.empty())
            return;
        line = m_imeName + m_imeLists.classifyIme(m_imeName);
    }
    logLine(1, line);
}

void dllLink::setMainWindow(HWND window)
{
    scopedLock hold(m_lock);
    m_mainWindowHandle = window;
}

void dllLink::setLogStream(const logStreamPtr& stream)
{
    if (!stream)
        return;
    scopedLock hold(m_lock);
    m_logStream = stream;
}

hookKeyEvent dllLink::popEvent()
{
    scopedLock hold(m_lock);
    if (m_keyEvents.empty())
        return hookKeyEvent{0, 0, 0, 0};
    hookKeyEvent event = m_keyEvents.front();
    m_keyEvents.pop_front();
    return event;
}

void dllLink::takeKeyEvents(const void* taker)
{
    scopedLock hold(m_lock);
    m_keyEventTaker = taker;
}

void dllLink::releaseKeyEvents(const void* taker)
{
    std::deque<hookKeyEvent> left;
    {
        scopedLock hold(m_lock);
        if (!taker || m_keyEventTaker != taker)
            return;
        m_keyEventTaker = nullptr;
        left.swap(m_keyEvents);
    }
    for (const hookKeyEvent& event : left)
        if (!passedByLibrary(event))
            passKeyOn(event);
}

void dllLink::passKeyOn(const hookKeyEvent& event)
{
    const int scanCode = event.scanCode & 0xFF;
    const bool extended = (event.keyFlags & 0x100) != 0;
    DWORD flags = KEYEVENTF_SCANCODE;
    if (extended)
        flags |= KEYEVENTF_EXTENDEDKEY;
    if (event.keyFlags & 0x8000)
        flags |= KEYEVENTF_KEYUP;
#ifdef TVN_ANSI
    keybd_event(static_cast<BYTE>(event.vk), static_cast<BYTE>(scanCode), flags & ~KEYEVENTF_SCANCODE, 0);
#else
    // The library lets right Shift through while it reports it: typed again it would come twice.
    if (scanCode == 0x36 && !extended)
        return;
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = static_cast<WORD>(event.vk & 0xFF);
    input.ki.wScan = static_cast<WORD>(scanCode);
    input.ki.dwFlags = flags;
    SendInput(1, &input, sizeof input);
#endif
}

std::wstring dllLink::imeName()
{
    scopedLock hold(m_lock);
    return m_imeName;
}

int dllLink::imeStatusBits()
{
    scopedLock hold(m_lock);
    return m_imeStatusBits;
}

int dllLink::conversionMode()
{
    scopedLock hold(m_lock);
    return m_conversionMode;
}

int dllLink::sentenceMode()
{
    scopedLock hold(m_lock);
    return m_sentenceMode;
}

HKL dllLink::keyboardLayout()
{
    scopedLock hold(m_lock);
    return m_keyboardLayout;
}

bool dllLink::candidateThrough()
{
    scopedLock hold(m_lock);
    return m_imeLists.candidateThrough();
}

bool dllLink::alwaysThrough()
{
    scopedLock hold(m_lock);
    return m_imeLists.alwaysThrough();
}

bool dllLink::cantUseScsSetstr()
{
    scopedLock hold(m_lock);
    return m_imeLists.cantUseScsSetstr();
}

bool dllLink::cantAcceptSymbolDirect()
{
    scopedLock hold(m_lock);
    return m_imeLists.cantAcceptSymbolDirect();
}

bool dllLink::acceptsWideVkey()
{
    scopedLock hold(m_lock);
    return m_acceptsWideVkey;
}

bool dllLink::takesCompStr()
{
    scopedLock hold(m_lock);
    return m_takesCompStr;
}

dllLink& getDllLink()
{
    // A throwing constructor leaves the static unbuilt; the next call tries again.
    static dllLink link;
    return link;
}
