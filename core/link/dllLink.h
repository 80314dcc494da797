// The main program's one link to the hook library: loads the library and binds its request function,
// sends requests, keeps the focused application's IME picture from the library's reports, classifies
// the IME by the four name lists, and types characters by the road the IME needs.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <string>

#include "core/link/imeClassifier.h"
#include "core/platform/locks.h"
#include "core/platform/omsgstream.h"
#include "hooklib/protocol.h"

// One key that the library's keyboard hook swallowed, as the classic agent takes it.
struct hookKeyEvent {
    int scanCode;  // bits 16-23 of the hook's lParam
    int keyFlags;  // bits 16-31: modifier bits; bits 0-15: bits 16-31 of the hook's lParam
    int vk;        // virtual-key code
    int tick;      // GetTickCount of the swallowed key
};
static_assert(sizeof(hookKeyEvent) == 16, "four int fields");

using logStreamPtr = std::shared_ptr<omsgstream>;

class dllLinkInterface {
public:
    // Types one character; nonzero when it was handed on.
    virtual int outputChar(wchar_t ch) = 0;
    virtual fromDll_waitInfoAdds* sendRequest(fromDll::requestToDll code, unsigned int w, long l) = 0;
    // Applies one report of the library; true when the report queue is drained.
    virtual bool handleReport(const fromDll_waitInfoAdds& report) = 0;
    virtual HWND lastForegroundWindow() = 0;
    virtual const std::wstring& dllPath() = 0;
    virtual bool kanaLayoutAllowed() = 0;
    virtual bool alphabetLayoutAllowed() = 0;
    virtual bool isImeOpen() = 0;
    virtual bool isRomajiMode() = 0;
    virtual bool isCapsOn() = 0;
    virtual bool isKanaOn() = 0;
    virtual bool isFullShape() = 0;
    virtual bool isAlphanumericMode() = 0;
    virtual bool isKatakanaMode() = 0;
    virtual bool useImeComposition() = 0;
    // The output-wait test: true while output must wait for an action of the library to settle.
    virtual bool dllEventJustHappened() = 0;
    virtual bool isConsoleForeground(bool force) = 0;
    // Compiles the pattern into list 0-3; the error text (empty on success) goes to `error`.
    virtual void setImeList(std::wstring& error, int index, const std::wstring& pattern) = 0;
    virtual void setMainWindow(HWND window) = 0;
    virtual void setLogStream(const logStreamPtr& stream) = 0;
    virtual hookKeyEvent popEvent() = 0;
    // Only the classic agent takes the keys the library swallowed, and only while it runs: it
    // takes them from its resume on. While nobody takes them, a swallowed key that the library
    // reports is passed on at once instead of being queued.
    virtual void takeKeyEvents(const void* taker) { (void)taker; }
    // The taker stops taking: the keys still queued are passed on at once, in order. Nothing
    // happens when another taker has taken over since.
    virtual void releaseKeyEvents(const void* taker) { (void)taker; }
    // Types a swallowed key unconverted, straight to the system, as a key of its scan code (bit 8
    // of keyFlags extended, bit 15 release): the way past the library once its keyboard hook is
    // gone, which would never match an injected key recorded for it.
    virtual void passKeyOn(const hookKeyEvent& event) { (void)event; }
    virtual ~dllLinkInterface() = default;
};

class dllLink : public dllLinkInterface {
public:
    // The longest output wait the library arms (after a posted action), ms.
    static const int longestLibraryWait = 100;

    // Loads the library from the program's folder; throws dllConnectError when it can't.
    dllLink();
    // The same from a given folder.
    explicit dllLink(const std::wstring& folder);
    // A link over a given request function and no loaded library (tests, and nothing else).
    dllLink(njankotanFunction entry, std::wstring libraryPath);
    ~dllLink() override;
    dllLink(const dllLink&) = delete;
    dllLink& operator=(const dllLink&) = delete;

    int outputChar(wchar_t ch) override;
    fromDll_waitInfoAdds* sendRequest(fromDll::requestToDll code, unsigned int w, long l) override;
    bool handleReport(const fromDll_waitInfoAdds& report) override;
    HWND lastForegroundWindow() override;
    const std::wstring& dllPath() override { return m_libraryPath; }
    bool kanaLayoutAllowed() override;
    bool alphabetLayoutAllowed() override;
    bool isImeOpen() override;
    bool isRomajiMode() override;
    bool isCapsOn() override;
    bool isKanaOn() override;
    bool isFullShape() override;
    bool isAlphanumericMode() override;
    bool isKatakanaMode() override;
    bool useImeComposition() override;
    bool dllEventJustHappened() override;
    bool isConsoleForeground(bool force) override;
    void setImeList(std::wstring& error, int index, const std::wstring& pattern) override;
    void setMainWindow(HWND window) override;
    void setLogStream(const logStreamPtr& stream) override;
    hookKeyEvent popEvent() override;
    void takeKeyEvents(const void* taker) override;
    void releaseKeyEvents(const void* taker) override;
    // The library lets right Shift through while it reports it: that key is never typed again.
    void passKeyOn(const hookKeyEvent& event) override;

    // What the link knows, for the user interface and tests.
    std::wstring imeName();
    int imeStatusBits();
    int conversionMode();
    int sentenceMode();
    HKL keyboardLayout();
    bool candidateThrough();
    bool alwaysThrough();
    bool cantUseScsSetstr();
    bool cantAcceptSymbolDirect();
    bool acceptsWideVkey();
    bool takesCompStr();

protected:
    // Types a character as a Unicode key; answers the count SendInput gave.
    virtual UINT typeUnicodeChar(wchar_t ch);

    // What the system tells of a keyboard layout's IME. Tests stand in for IMEs Wine lacks.
    struct imeFacts {
        bool acceptsWideVkey;     // IME_PROP_ACCEPT_WIDE_VKEY
        bool takesCompStr;        // SCS_CAP_COMPSTR
        std::wstring description; // empty when the layout has none
    };
    virtual imeFacts describeLayout(HKL layout);

private:
    void load(const std::wstring& folder);
    void startValues();
    void logLine(int level, const std::wstring& text);
    void keyboardLayoutReport(HKL layout);
    void stateBitsReport(int bits, int mask);
    void conversionModeReport(int conversion, int sentence);
    void focusWindowReport(HWND window);

    // Guards every field below it: the agent thread applies reports and asks the IME tests while the
    // user-interface thread sets the name lists and the log stream.
    sectionLock m_lock;
    HWND m_foregroundWindow;
    HMODULE m_library;
    njankotanFunction m_entry;
    std::wstring m_libraryPath;
    int m_conversionMode;
    int m_sentenceMode;
    int m_imeStatusBits;
    imeClassifier m_imeLists;
    HKL m_keyboardLayout;
    bool m_acceptsWideVkey;
    bool m_takesCompStr;
    bool m_consoleInFront;
    bool m_focusChanged;
    std::wstring m_imeName;
    logStreamPtr m_logStream;
    HWND m_mainWindowHandle;
    bool m_mustWait;
    bool m_corruptWaitLogged = false;
    std::deque<hookKeyEvent> m_keyEvents;
    const void* m_keyEventTaker = nullptr;
    int m_pendingKeyTick;
    int m_pendingKeyVk;
    HWND m_lastLoggedTopWindow;
};

// The one link, built on first call. A failed build throws and is tried again by the next call.
dllLink& getDllLink();
