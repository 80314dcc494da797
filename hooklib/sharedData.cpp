#include "hooklib/sharedData.h"

#include <cstring>
#include <cwchar>

const wchar_t* const dllMutexName = L"版1.3007号 構築#072DlLみゅーてくす";
const wchar_t* const dllMappingName = L"版1.3007号 構築#072ふぁいるまっぴんぐ";
const wchar_t* const dllMessageName = L"版1.3007号 構築#072ういんどうめっせーじ";

// ---- one wait per hook call -------------------------------------------------------------------

namespace {

// Per thread: the depth of nested scopes times two, plus 1 once a wait failed in the current call.
// Taken on first use, given back when the library leaves the process (releaseLockWaitSlot): the
// hooks load and unload the library in every application, again and again.
volatile LONG waitSlot = static_cast<LONG>(TLS_OUT_OF_INDEXES);

DWORD waitScopeSlot()
{
    if (waitSlot != static_cast<LONG>(TLS_OUT_OF_INDEXES)) return static_cast<DWORD>(waitSlot);
    const DWORD slot = TlsAlloc();
    if (slot == TLS_OUT_OF_INDEXES) return slot;
    const LONG before = InterlockedCompareExchange(&waitSlot, static_cast<LONG>(slot), static_cast<LONG>(TLS_OUT_OF_INDEXES));
    if (before == static_cast<LONG>(TLS_OUT_OF_INDEXES)) return slot;
    TlsFree(slot);  // another thread was first
    return static_cast<DWORD>(before);
}

ULONG_PTR waitScopeState()
{
    const DWORD slot = waitScopeSlot();
    return slot == TLS_OUT_OF_INDEXES ? 0 : reinterpret_cast<ULONG_PTR>(TlsGetValue(slot));
}

void setWaitScopeState(ULONG_PTR state)
{
    const DWORD slot = waitScopeSlot();
    if (slot != TLS_OUT_OF_INDEXES) TlsSetValue(slot, reinterpret_cast<void*>(state));
}

// This process's own lock, held for a scope.
struct ownHold {
    explicit ownHold(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
    ~ownHold() { LeaveCriticalSection(&m_lock); }
    ownHold(const ownHold&) = delete;
    ownHold& operator=(const ownHold&) = delete;
    CRITICAL_SECTION& m_lock;
};

}  // namespace

void releaseLockWaitSlot()
{
    const LONG slot = InterlockedExchange(&waitSlot, static_cast<LONG>(TLS_OUT_OF_INDEXES));
    if (slot != static_cast<LONG>(TLS_OUT_OF_INDEXES)) TlsFree(static_cast<DWORD>(slot));
}

lockWaitScope::lockWaitScope()
{
    const ULONG_PTR state = waitScopeState();
    // The outermost scope begins a call with its one wait still to come.
    setWaitScopeState(state < 2 ? 2 : state + 2);
}

lockWaitScope::~lockWaitScope()
{
    const ULONG_PTR state = waitScopeState();
    setWaitScopeState(state < 4 ? 0 : state - 2);
}

void lockWaitScope::giveUp()
{
    const ULONG_PTR state = waitScopeState();
    if (state >= 2) setWaitScopeState(state | 1);
}

bool lockWaitScope::givenUp()
{
    return (waitScopeState() & 1) != 0;
}

// ---- the mutex -------------------------------------------------------------------------------

dllMutex::dllMutex(HANDLE handle, DWORD waitMs, int attempts)
    : m_handle(handle), m_waitMs(waitMs), m_attempts(attempts)
{
}

dllMutex::~dllMutex()
{
    if (m_handle) CloseHandle(m_handle);
}

// A failed wait is not retried: with an invalid handle every retry fails again, and every hooked
// thread of the session would spin here. A peer that holds the lock beyond all attempts is hung;
// we skip the operation rather than hang with it.
bool dllMutex::acquire()
{
    if (!m_handle) return false;
    const bool onlyTry = lockWaitScope::givenUp();
    const int attempts = onlyTry ? 1 : m_attempts;
    for (int i = 0; i < attempts; ++i) {
        DWORD r = WaitForSingleObject(m_handle, onlyTry ? 0 : m_waitMs);
        if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) return true;
        if (r != WAIT_TIMEOUT) break;
    }
    lockWaitScope::giveUp();
    debugLine(L"TavolinDLL : dllMutex::acquireに失敗しました。");
    return false;
}

void dllMutex::setPatience(DWORD waitMs, int attempts)
{
    m_waitMs = waitMs;
    m_attempts = attempts;
}

void dllMutex::release()
{
    if (m_handle) ReleaseMutex(m_handle);
}

dllMutex& getDllMutex()
{
#ifdef TVN_ANSI
    static dllMutex mutex(CreateMutexA(nullptr, FALSE, sessionObjectName(dllMutexName).text));
#else
    static dllMutex mutex(CreateMutexW(nullptr, FALSE, sessionObjectName(dllMutexName).text));
#endif
    return mutex;
}

// ---- names and debug lines -------------------------------------------------------------------

dllNameBuffer sessionObjectName(const wchar_t* base)
{
    dllNameBuffer name;
#ifdef TVN_ANSI
    int n = WideCharToMultiByte(932, 0, base, -1, name.text, sizeof(name.text), nullptr, nullptr);
    if (n <= 0) name.text[0] = 0;
#else
    std::wcsncpy(name.text, base, 120);
    name.text[120] = 0;
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
        wchar_t digits[16];
        swprintf(digits, 16, L"%lu", static_cast<unsigned long>(session));
        std::wcscat(name.text, digits);
    }
#endif
    return name;
}

void debugLine(const wchar_t* text)
{
    if (!theSharedData().debugOutput()) return;
#ifdef TVN_ANSI
    char buffer[512];
    if (WideCharToMultiByte(932, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr) > 0)
        OutputDebugStringA(buffer);
#else
    OutputDebugStringW(text);
#endif
}

// ---- matching ----------------------------------------------------------------------------------

bool injectedKeyMatches(const injectedKey& entry, int vk, int scanCode, bool released, bool extended)
{
    if (((entry.flags & KEYEVENTF_KEYUP) != 0) != released) return false;
    if (((entry.flags & KEYEVENTF_EXTENDEDKEY) != 0) != extended) return false;
    if (entry.vk == vk) return true;
    return scanCode != 0 && (entry.scanCode & 0xFF) == (scanCode & 0xFF);
}

// ---- the record --------------------------------------------------------------------------------

sharedData::sharedData(dllSharedData* view, dllLockable* lock, clockFunction clock)
    : m_view(view), m_lock(lock), m_clock(clock)
{
    InitializeCriticalSection(&m_ownLock);
}

sharedData::~sharedData()
{
    DeleteCriticalSection(&m_ownLock);
}

void sharedData::resetFields()
{
    dllSharedData& d = *m_view;
    d.reportRead = d.reportWrite = 0;
    d.capsImeSync = d.kanaImeSync = 0;
    d.waitActive = d.waitPending = 0;
    d.waitTime = 0;
    d.passThrough = d.spareFlag = d.injectionSigned = 0;
    std::memset(d.pairKeys, 0, sizeof(d.pairKeys));
    d.injectedRead = d.injectedWrite = 0;
    d.injectedResetTick = 0;
    d.kakuteiType = 0;
    d.debugOutput = 0;
}

void sharedData::reset()
{
    if (m_view) resetFields();
}

void sharedData::resetLocked()
{
    sharedHold hold(m_lock);
    if (hold && m_view) resetFields();
}

// Another process may have left anything in the indices, and one that ignores the lock may write
// them while we work: each step reads them once, into copies it alone uses, and writes back only
// what it moved. An index outside the ring makes the ring's contents meaningless, so it starts
// empty again.
static sharedData::ringIndices indicesOf(std::int32_t& readField, std::int32_t& writeField, int length)
{
    sharedData::ringIndices r = {*const_cast<volatile std::int32_t*>(&readField),
                                 *const_cast<volatile std::int32_t*>(&writeField)};
    if (r.read < 0 || r.read >= length || r.write < 0 || r.write >= length) {
        r.read = r.write = 0;
        readField = writeField = 0;
    }
    r.used = (r.write - r.read + length) % length;
    return r;
}

sharedData::ringIndices sharedData::reportIndices()
{
    return indicesOf(m_view->reportRead, m_view->reportWrite, reportQueueLength);
}

sharedData::ringIndices sharedData::injectedIndices()
{
    return indicesOf(m_view->injectedRead, m_view->injectedWrite, injectedRingLength);
}

bool sharedData::popReport(fromDll_waitInfoAdds& answer)
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) {
        answer.kind = reportEmpty;
        return false;
    }
    const ringIndices at = reportIndices();
    if (at.used == 0) {
        answer.kind = reportEmpty;
        return false;
    }
    answer = m_view->reportQueue[at.read];
    m_view->reportRead = (at.read + 1) % reportQueueLength;
    return true;
}

bool sharedData::pushReport(const fromDll_waitInfoAdds& entry)
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return false;
    sendPassedNoticesHeld();
    const ringIndices at = reportIndices();
    if (at.used >= reportQueueLength - 1) return false;
    m_view->reportQueue[at.write] = entry;
    m_view->reportWrite = (at.write + 1) % reportQueueLength;
    return true;
}

bool sharedData::pushReport(int kind, int info1, int info2)
{
    fromDll_waitInfoAdds entry = {};
    entry.kind = kind;
    entry.info1 = info1;
    entry.info2 = info2;
    return pushReport(entry);
}

bool sharedData::pushReportPair(const fromDll_waitInfoAdds& first, const fromDll_waitInfoAdds& secondEntry)
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return false;
    const ringIndices at = reportIndices();
    if (at.used + 2 > reportQueueLength - 1) return false;
    const int second = (at.write + 1) % reportQueueLength;
    m_view->reportQueue[at.write] = first;
    m_view->reportQueue[second] = secondEntry;
    m_view->reportWrite = (second + 1) % reportQueueLength;
    return true;
}

static int passedKeyIndex(const fromDll_waitInfoAdds& data)
{
    return ((data.info1 >> 16) & 0xFF) | ((data.info1 & 0x01000000) ? 0x100 : 0);
}

sharedData::keyReportOutcome sharedData::pushKeyReports(const fromDll_waitInfoAdds& time,
                                                         const fromDll_waitInfoAdds& data)
{
    // One hold over the notices too: they are this process's, shared by its hooked threads.
    sharedHold hold(m_lock);
    if (!hold || !m_view) return keyFoundNoRoom;
    // Checked under the same hold as the push: once the hook is out and its last reports taken,
    // no thread that waited for room may still add a key nobody will read.
    if (!m_view->injectionSigned) return keyHookGone;
    if (!sendPassedNoticesHeld() || !pushReportPair(time, data)) return keyFoundNoRoom;
    ownHold own(m_ownLock);
    m_reportedDown[passedKeyIndex(data)] = (static_cast<std::uint32_t>(data.info1) & 0x80000000u) == 0;
    return keyReported;
}

// Under the record's hold. True when no notice is left waiting.
bool sharedData::sendPassedNoticesHeld()
{
    if (!m_view || !m_view->injectionSigned) return false;
    ownHold own(m_ownLock);
    passedKeyNotices& passed = m_passed;
    bool fits = true;
    int sent = 0;
    while (fits && sent < passed.count) {
        fits = pushReportPair(passed.time[sent], passed.data[sent]);
        if (fits) ++sent;
    }
    for (int i = sent; i < passed.count; ++i) {
        passed.time[i - sent] = passed.time[i];
        passed.data[i - sent] = passed.data[i];
    }
    passed.count -= sent;
    return fits;
}

void sharedData::sendPassedNotices()
{
    sharedHold hold(m_lock);
    if (hold) sendPassedNoticesHeld();
}

void sharedData::notePassedKey(const fromDll_waitInfoAdds& time, const fromDll_waitInfoAdds& data)
{
    ownHold own(m_ownLock);
    if ((static_cast<std::uint32_t>(data.info1) & 0x80000000u) == 0) m_passedDown[passedKeyIndex(data)] = true;
    passedKeyNotices& passed = m_passed;
    if (passed.count < passedKeyNotices::capacity) {
        passed.time[passed.count] = time;
        passed.data[passed.count] = data;
        passed.data[passed.count].info2 |= modifierPassedOn;
        ++passed.count;
    }
}

int sharedData::passedNoticesWaiting()
{
    ownHold own(m_ownLock);
    return m_passed.count;
}

bool sharedData::passedPress(int key)
{
    ownHold own(m_ownLock);
    return m_passedDown[key & 0x1FF];
}

void sharedData::markPassedPress(int key)
{
    ownHold own(m_ownLock);
    m_passedDown[key & 0x1FF] = true;
}

bool sharedData::reportedPress(int key)
{
    ownHold own(m_ownLock);
    return m_reportedDown[key & 0x1FF];
}

void sharedData::forgetPassedPress(int key)
{
    ownHold own(m_ownLock);
    m_passedDown[key & 0x1FF] = m_reportedDown[key & 0x1FF] = false;
}

void sharedData::forgetPassedPresses()
{
    ownHold own(m_ownLock);
    for (bool& down : m_passedDown) down = false;
    for (bool& down : m_reportedDown) down = false;
}

void sharedData::giveBackLater(const injectedKey& entry)
{
    ownHold own(m_ownLock);
    if (m_giveBackCount < giveBackCapacity) m_giveBack[m_giveBackCount++] = entry;
}

void sharedData::forgetGiveBack(int vk, int scanCode, bool released, bool extended)
{
    ownHold own(m_ownLock);
    for (int i = 0; i < m_giveBackCount; ++i) {
        if (!injectedKeyMatches(m_giveBack[i], vk, scanCode, released, extended)) continue;
        for (int j = i + 1; j < m_giveBackCount; ++j) m_giveBack[j - 1] = m_giveBack[j];
        --m_giveBackCount;
        return;
    }
}

// Under the record's hold: the newest first, so that the first taken ends up the oldest again.
void sharedData::giveBackHeld()
{
    ownHold own(m_ownLock);
    while (m_giveBackCount > 0) {
        if (!restoreInjected(m_giveBack[m_giveBackCount - 1])) {
            m_giveBackCount = 0;  // the ring filled up: our keys are known by their sign all the same
            break;
        }
        --m_giveBackCount;
    }
}

bool sharedData::isReportQueueEmpty()
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return true;
    return reportIndices().used == 0;
}

void sharedData::setWaitTimer(int delay)
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return;
    dllSharedData& d = *m_view;
    if (delay > 0) {
        d.waitTime = delay;
        d.waitActive = d.waitPending = 1;
    } else {
        d.waitTime = 0;
        d.waitActive = d.waitPending = 0;
    }
}

int sharedData::readWaitTimer()
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return 0;
    dllSharedData& d = *m_view;
    if (!d.waitActive) return 0;
    if (d.waitPending) {
        d.waitTime = static_cast<std::int32_t>(static_cast<std::uint32_t>(d.waitTime) + m_clock());
        d.waitPending = 0;
        // 0 means "disarmed" to the reader; a deadline that lands on it moves one tick on.
        if (d.waitTime == 0) d.waitTime = 1;
    }
    return d.waitTime;
}

bool sharedData::pushInjected(const injectedKey& entry)
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return false;
    const ringIndices at = injectedIndices();
    if (at.used >= injectedRingLength - 1 - injectedReturnRoom) return false;
    m_view->injectedRing[at.write] = entry;
    m_view->injectedWrite = (at.write + 1) % injectedRingLength;
    return true;
}

void sharedData::dropStaleInjected()
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return;
    m_view->injectedRead = injectedIndices().write;
    const DWORD now = m_clock();
    m_view->injectedResetTick = now ? now : 1;
}

void sharedData::injectedState(int& read, int& used)
{
    read = used = 0;
    sharedHold hold(m_lock);
    if (!hold || !m_view) return;
    const ringIndices at = injectedIndices();
    read = at.read;
    used = at.used;
}

int sharedData::injectedReadIndex()
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return 0;
    return injectedIndices().read;
}

bool sharedData::oldestInjected(injectedKey& entry)
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return false;
    const ringIndices at = injectedIndices();
    if (at.used == 0) return false;
    entry = m_view->injectedRing[at.read];
    return true;
}

void sharedData::dropInjected()
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return;
    const ringIndices at = injectedIndices();
    if (at.used == 0) return;
    m_view->injectedRead = (at.read + 1) % injectedRingLength;
}

void sharedData::clearInjected()
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return;
    m_view->injectedRead = injectedIndices().write;
    m_view->injectedResetTick = 0;
}

bool sharedData::isInjectedEmpty()
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return true;
    return injectedIndices().used == 0;
}

bool sharedData::takeMatchingInjected(int vk, int scanCode, bool released, bool extended, injectedKey& taken)
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return false;
    const ringIndices at = injectedIndices();
    dllSharedData& d = *m_view;
    for (int n = 0; n < at.used; ++n) {
        const int i = (at.read + n) % injectedRingLength;
        if (!injectedKeyMatches(d.injectedRing[i], vk, scanCode, released, extended)) continue;
        taken = d.injectedRing[i];
        // The older entries close up behind the one taken.
        for (int j = i; j != at.read;) {
            const int before = (j + injectedRingLength - 1) % injectedRingLength;
            d.injectedRing[j] = d.injectedRing[before];
            j = before;
        }
        d.injectedRead = (at.read + 1) % injectedRingLength;
        return true;
    }
    return false;
}

bool sharedData::restoreInjected(const injectedKey& entry)
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return false;
    const ringIndices at = injectedIndices();
    const int before = (at.read + injectedRingLength - 1) % injectedRingLength;
    if (before == at.write) return false;
    m_view->injectedRing[before] = entry;
    m_view->injectedRead = before;
    return true;
}

int sharedData::reportReadIndex()
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return 0;
    return reportIndices().read;
}

bool sharedData::byteFlag(std::uint8_t dllSharedData::*field)
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return false;
    return m_view->*field != 0;
}

void sharedData::setByteFlag(std::uint8_t dllSharedData::*field, bool on)
{
    sharedHold hold(m_lock);
    if (!hold || !m_view) return;
    m_view->*field = on ? 1 : 0;
}

bool sharedData::passThrough() { return byteFlag(&dllSharedData::passThrough); }
void sharedData::setPassThrough(bool on) { setByteFlag(&dllSharedData::passThrough, on); }
bool sharedData::spareFlag() { return byteFlag(&dllSharedData::spareFlag); }
void sharedData::setSpareFlag(bool on) { setByteFlag(&dllSharedData::spareFlag, on); }
bool sharedData::injectionSigned() { return byteFlag(&dllSharedData::injectionSigned); }
void sharedData::setInjectionSigned(bool on) { setByteFlag(&dllSharedData::injectionSigned, on); }

sharedData::signReading sharedData::readInjectionSign()
{
    sharedHold hold(m_lock);
    if (!hold) return signUnknown;
    if (m_view) giveBackHeld();
    sendPassedNoticesHeld();
    return m_view && m_view->injectionSigned ? signOn : signOff;
}
bool sharedData::capsImeSync() { return byteFlag(&dllSharedData::capsImeSync); }
void sharedData::setCapsImeSync(bool on) { setByteFlag(&dllSharedData::capsImeSync, on); }
bool sharedData::kanaImeSync() { return byteFlag(&dllSharedData::kanaImeSync); }
void sharedData::setKanaImeSync(bool on) { setByteFlag(&dllSharedData::kanaImeSync, on); }

int sharedData::pairKey(int i)
{
    if (i < 0 || i > 3) return 0;
    sharedHold hold(m_lock);
    if (!hold || !m_view) return 0;
    return m_view->pairKeys[i];
}

void sharedData::setPairKey(int i, int vk)
{
    if (i < 0 || i > 3) return;
    sharedHold hold(m_lock);
    if (!hold || !m_view) return;
    m_view->pairKeys[i] = static_cast<std::uint8_t>(vk);
}

int sharedData::kakuteiType() const
{
    return m_view ? (m_view->kakuteiType & 3) : 0;
}

void sharedData::setKakuteiType(int value)
{
    if (m_view) m_view->kakuteiType = value & 3;
}

bool sharedData::debugOutput() const
{
    return m_view && m_view->debugOutput != 0;
}

void sharedData::setDebugOutput(bool on)
{
    if (m_view) m_view->debugOutput = on ? 1 : 0;
}

// ---- this process's mapping --------------------------------------------------------------------

namespace {

HANDLE mappingHandle = nullptr;

// The lock is looked up lazily so that building theSharedData never creates the mutex early.
class lazyDllMutex : public dllLockable {
public:
    bool acquire() override { return getDllMutex().acquire(); }
    void release() override { getDllMutex().release(); }
};

}  // namespace

sharedData& theSharedData()
{
    static lazyDllMutex lock;
    static sharedData data(nullptr, &lock, GetTickCount);
    return data;
}

bool openSharedData()
{
    if (theSharedData().view()) return true;
#ifdef TVN_ANSI
    mappingHandle = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       static_cast<DWORD>(dllSharedDataSize),
                                       sessionObjectName(dllMappingName).text);
#else
    mappingHandle = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       static_cast<DWORD>(dllSharedDataSize),
                                       sessionObjectName(dllMappingName).text);
#endif
    if (!mappingHandle) return false;
    DWORD created = GetLastError();
    void* view = MapViewOfFile(mappingHandle, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, dllSharedDataSize);
    if (!view) {
        closeSharedData();
        return false;
    }
    theSharedData().attach(static_cast<dllSharedData*>(view));
    if (created != ERROR_ALREADY_EXISTS) theSharedData().reset();
    return true;
}

void closeSharedData()
{
    dllSharedData* view = theSharedData().view();
    if (view) {
        theSharedData().attach(nullptr);
        if (!UnmapViewOfFile(view)) return;
    }
    if (mappingHandle) {
        CloseHandle(mappingHandle);
        mappingHandle = nullptr;
    }
}
