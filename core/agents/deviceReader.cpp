#include "core/agents/deviceReader.h"

#include <process.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "core/platform/errors.h"
#include "core/platform/japaneseText.h"
#include "core/platform/messageWait.h"
#include "core/platform/registry.h"

namespace {

const wchar_t* const busyText =
    L"VexaもしくはOrvessaがすでに動作しています。\n同時に動作できるのはいずれか一方がひとつだけです。\n\n"
    L"Vexaが起動している場合はそれを先に終了してください。\n[再試行]ボタンでOrvessaの起動可否を再検査します。";

// Longest pause between two reads while the device keeps failing.
const DWORD longestFailurePause = 50;

HANDLE newAutoResetEvent() { return CreateEvent(nullptr, FALSE, FALSE, nullptr); }

}  // namespace

deviceNames driverDeviceNames()
{
    deviceNames names;
#ifdef TVN_ANSI
    names.devicePath = "\\\\.\\vexad.vxd";
    names.mutexName = "{46269F4D-D560-40f9-B38B-DB5E280FEF47}";
#else
    names.devicePath = L"\\\\.\\VexaDetour1";
    names.mutexName = L"{46269F4D-D560-40f9-B38B-DB5E280FEF47}";
#endif
    names.serviceName = L"vexad";
    return names;
}

const deviceOperations& systemDeviceOperations()
{
#ifdef TVN_ANSI
    // The virtual device of Windows 98/Me needs no service manager, which 98/Me lack.
    static const deviceOperations operations = {
        &DeviceIoControl, nullptr, nullptr, nullptr, nullptr, nullptr, &MessageBoxW,
    };
#else
    static const deviceOperations operations = {
        &DeviceIoControl, &OpenSCManagerW,     &OpenServiceW, &StartServiceW,
        &ControlService,  &CloseServiceHandle, &MessageBoxW,
    };
#endif
    return operations;
}

// ---------------------------------------------------------------- connection

deviceConnection::deviceConnection(logStream log, const deviceNames& names, const deviceOperations& operations)
    : m_deviceLog(std::move(log)), m_names(names), m_operations(operations)
{
    const tstring mutexName = sessionQualifiedName(names.mutexName);
    for (;;) {
        HANDLE mutex = CreateMutex(nullptr, TRUE, mutexName.c_str());
        if (!mutex) {
            // Without the mutex nothing keeps the driver's own product away from the device.
            ErrorMessage error;
            error << L"排他制御用のミューテックスを作成できませんでした。" << systemErrorText(GetLastError());
            throw error;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            m_exclusionMutex = mutex;
            return;
        }
        // Let go before asking, so that Retry finds the name free once the other holder has ended.
        CloseHandle(mutex);
        const int answer = m_operations.messageBox(nullptr, busyText, L"Orvessa/Tavolin",
                                                   MB_ICONINFORMATION | MB_RETRYCANCEL);
        if (answer == IDRETRY) continue;
        ErrorMessage error;
        if (answer == 0)
            error << L"MessageBox がエラーを返しました。エラーコード=" << static_cast<unsigned long>(GetLastError());
        else if (answer == IDCANCEL)
            error << L"Vexaを援用する手続きを中段しました。";
        else
            error << L"MessageBox が予期していない値を返しました。";
        throw error;
    }
}

deviceConnection::~deviceConnection()
{
    if (m_acknowledgement) CloseHandle(m_acknowledgement);
    if (m_exclusionMutex) {
        ReleaseMutex(m_exclusionMutex);
        CloseHandle(m_exclusionMutex);
    }
}

void deviceConnection::writeDeviceLog(const std::wstring& line)
{
    if (!m_deviceLog) return;
    omsgstream& log = *m_deviceLog;
    log.lock(0);
#ifdef TVN_ANSI
    log << toNarrowString(line) << std::endl;
#else
    log << line << std::endl;
#endif
    log.unlock();
}

// ---------------------------------------------------------------- reader

deviceReader::deviceReader(logStream log, const deviceNames& names, const deviceOperations& operations)
    : deviceConnection(std::move(log), names, operations),
      m_readEvent(newAutoResetEvent()),
      m_writeEvent(newAutoResetEvent()),
      m_stopEvent(newAutoResetEvent()),
      m_interruptEvent(newAutoResetEvent())
{
    std::memset(&m_readRequest, 0, sizeof m_readRequest);
    std::memset(&m_writeRequest, 0, sizeof m_writeRequest);
    std::memset(&m_readBuffer, 0, sizeof m_readBuffer);
    std::memset(&m_writeBuffer, 0, sizeof m_writeBuffer);
    try {
        readDriverVersion();
    } catch (...) {
        CloseHandle(m_readEvent);
        CloseHandle(m_writeEvent);
        CloseHandle(m_stopEvent);
        CloseHandle(m_interruptEvent);
        throw;
    }
}

deviceReader::~deviceReader()
{
    stopThread();
    closeDevice();
    CloseHandle(m_readEvent);
    CloseHandle(m_writeEvent);
    CloseHandle(m_stopEvent);
    CloseHandle(m_interruptEvent);
}

void deviceReader::readDriverVersion()
{
    openDevice();
    wchar_t buffer[256];
    DWORD returned = 0;
    if (m_operations.deviceIoControl(m_device, driverVersionControlCode, nullptr, 0, buffer, sizeof buffer,
                                     &returned, nullptr) &&
        returned > 0 && returned < sizeof buffer) {
        std::wstring text(buffer, returned / 2);
        // A terminating zero that the driver counts in its answer is not part of the text.
        text.erase(std::find(text.begin(), text.end(), L'\0'), text.end());
        m_versionText = text;
    }
    closeDevice();
}

#ifndef TVN_ANSI

void deviceReader::openDevice()
{
    if (deviceOpen()) return;
    const auto open = [this] {
        return CreateFileW(m_names.devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    m_device = open();
    if (deviceOpen()) {
        m_writePending = false;
        return;
    }
    const DWORD firstError = GetLastError();

    const wchar_t* failedStep = nullptr;
    DWORD stepError = 0;
    SC_HANDLE manager = m_operations.openSCManager(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) {
        stepError = GetLastError();
        failedStep = L"OpenSCManager に失敗しました。エラーコード=";
    } else {
        SC_HANDLE service = m_operations.openService(manager, m_names.serviceName.c_str(), SERVICE_START);
        if (!service) {
            stepError = GetLastError();
            failedStep = L"OpenService に失敗しました。エラーコード=";
        } else {
            m_serviceStarted = true;
            if (!m_operations.startService(service, 0, nullptr)) {
                stepError = GetLastError();
                failedStep = L"StartService に失敗しました。エラーコード=";
            }
            m_operations.closeServiceHandle(service);
        }
        m_operations.closeServiceHandle(manager);
    }

    m_device = open();
    if (deviceOpen()) {
        m_writePending = false;
        return;
    }
    const DWORD secondError = GetLastError();
    ErrorMessage error;
    if (failedStep)
        error << failedStep << static_cast<unsigned long>(stepError) << L" / " << static_cast<unsigned long>(firstError)
              << L" / " << static_cast<unsigned long>(secondError);
    else
        error << L"二回目の CreateFile に失敗しました。エラーコード=" << static_cast<unsigned long>(firstError) << L" / "
              << static_cast<unsigned long>(secondError);
    throw error;
}

void deviceReader::stopDriverService()
{
    if (!m_serviceStarted) return;
    SC_HANDLE manager = m_operations.openSCManager(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager) {
        SC_HANDLE service = m_operations.openService(manager, m_names.serviceName.c_str(), SERVICE_STOP);
        if (service) {
            SERVICE_STATUS status;
            m_operations.controlService(service, SERVICE_CONTROL_STOP, &status);
            m_operations.closeServiceHandle(service);
        }
        m_operations.closeServiceHandle(manager);
    }
    m_serviceStarted = false;
}

void deviceReader::closeDevice()
{
    if (!deviceOpen()) return;
    CloseHandle(m_device);
    m_device = INVALID_HANDLE_VALUE;
    m_writePending = false;
    m_readPending = false;
    stopDriverService();
}

// Waits for a cancelled read to end, so its request and buffer are free again. A record that
// arrived just before the cancel is handed back to the driver unchanged rather than lost.
void deviceReader::cancelRead()
{
    if (!m_readPending) return;
    CancelIo(m_device);
    DWORD count = 0;
    const BOOL done = GetOverlappedResult(m_device, &m_readRequest, &count, TRUE);
    m_readPending = false;
    if (done && count == sizeof(keyboardRecord)) writeRecord(m_readBuffer, 1);
}

void deviceReader::finishWrite()
{
    if (!m_writePending) return;
    DWORD count = 0;
    if (WaitForSingleObject(m_writeEvent, 1000) != WAIT_OBJECT_0) CancelIo(m_device);
    GetOverlappedResult(m_device, &m_writeRequest, &count, TRUE);
    m_writePending = false;
}

int deviceReader::readRecord(keyboardRecord& record, int count)
{
    (void)count;
    if (m_lastReadResult != readTimeout) {
        if (m_failedReads > 0) {
            // A device that keeps failing is retried at a growing pace, still answering a stop
            // or an interruption at once.
            const HANDLE wake[2] = {m_stopEvent, m_interruptEvent};
            const DWORD pause = std::min<DWORD>(static_cast<DWORD>(m_failedReads), longestFailurePause);
            const DWORD woke = WaitForMultipleObjects(2, wake, FALSE, pause);
            if (woke == WAIT_OBJECT_0) return readStopped;
            if (woke == WAIT_OBJECT_0 + 1) return serveInterrupt();
        }
        std::memset(&m_readRequest, 0, sizeof m_readRequest);
        m_readRequest.hEvent = m_readEvent;
        DWORD got = 0;
        if (ReadFile(m_device, &m_readBuffer, sizeof m_readBuffer, &got, &m_readRequest)) {
            // The request is complete; its event is signalled too and the next read resets it.
            if (got != sizeof m_readBuffer) return readError;
            record = m_readBuffer;
            return readGotRecord;
        }
        if (GetLastError() != ERROR_IO_PENDING) return readError;
        m_readPending = true;
    }

    const HANDLE handles[3] = {m_readEvent, m_stopEvent, m_interruptEvent};
    switch (WaitForMultipleObjects(3, handles, FALSE, 1)) {
    case WAIT_OBJECT_0: {
        DWORD got = 0;
        m_readPending = false;
        if (!GetOverlappedResult(m_device, &m_readRequest, &got, FALSE) || got != sizeof m_readBuffer)
            return readError;
        record = m_readBuffer;
        return readGotRecord;
    }
    case WAIT_OBJECT_0 + 1:
        cancelRead();
        return readStopped;
    case WAIT_OBJECT_0 + 2:
        return serveInterrupt();
    case WAIT_TIMEOUT:
        return readTimeout;
    default:
        return readError;
    }
}

BOOL deviceReader::writeRecord(const keyboardRecord& record, int count)
{
    (void)count;
    scopedLock guard(m_writeLock);
    if (!deviceOpen()) return FALSE;
    finishWrite();
    m_writeBuffer = record;
    std::memset(&m_writeRequest, 0, sizeof m_writeRequest);
    m_writeRequest.hEvent = m_writeEvent;
    const BOOL written = WriteFile(m_device, &m_writeBuffer, sizeof m_writeBuffer, nullptr, &m_writeRequest);
    // Pending or done at once, the request's event comes; wait for it before the next write.
    m_writePending = written || GetLastError() == ERROR_IO_PENDING;
    return written;
}

void deviceReader::interruptThread(int reason)
{
    m_interruptThreadReason = reason;
    SetEvent(m_interruptEvent);
}

#else  // TVN_ANSI: the virtual device of Windows 98/Me

namespace {
const DWORD vxdReadCode = 1;
const DWORD vxdWriteCode = 2;
const DWORD vxdReleaseCode = 3;
}  // namespace

void deviceReader::openDevice()
{
    if (deviceOpen()) return;
    const auto open = [this] {
        return CreateFileA(m_names.devicePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                           FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    };
    m_device = open();
    if (deviceOpen()) {
        m_writePending = false;
        return;
    }
    const DWORD firstError = GetLastError();
    // The virtual device is loaded from the outside product's folder when it is the current one.
    DWORD secondError = firstError;
    HKEY key = nullptr;
    char folder[MAX_PATH] = {};
    DWORD size = sizeof folder - 1;
    DWORD type = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Dorrick\\vexa", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExA(key, "dir", nullptr, &type, reinterpret_cast<BYTE*>(folder), &size) == ERROR_SUCCESS &&
            type == REG_SZ) {
            char previous[MAX_PATH] = {};
            const DWORD kept = GetCurrentDirectoryA(MAX_PATH, previous);
            if (SetCurrentDirectoryA(folder)) {
                m_device = open();
                secondError = GetLastError();
                if (kept > 0 && kept < MAX_PATH) SetCurrentDirectoryA(previous);
            }
        }
        RegCloseKey(key);
    }
    if (deviceOpen()) {
        m_writePending = false;
        return;
    }
    ErrorMessage error;
    error << L"二回目の CreateFile に失敗しました。エラーコード=" << static_cast<unsigned long>(firstError) << L" / "
          << static_cast<unsigned long>(secondError);
    throw error;
}

void deviceReader::stopDriverService() { m_serviceStarted = false; }

void deviceReader::closeDevice()
{
    if (!deviceOpen()) return;
    CloseHandle(m_device);
    m_device = INVALID_HANDLE_VALUE;
    m_writePending = false;
}

void deviceReader::cancelRead() {}
void deviceReader::finishWrite() {}

int deviceReader::readRecord(keyboardRecord& record, int count)
{
    (void)count;
    if (m_failedReads > 0) {
        const DWORD pause = std::min<DWORD>(static_cast<DWORD>(m_failedReads), longestFailurePause);
        Sleep(pause);
    }
    // The read blocks until a record comes or the release code frees it.
    if (WaitForSingleObject(m_interruptEvent, 0) == WAIT_OBJECT_0) return serveInterrupt();
    if (WaitForSingleObject(m_stopEvent, 0) == WAIT_OBJECT_0) return readStopped;
    DWORD got = 0;
    if (!m_operations.deviceIoControl(m_device, vxdReadCode, nullptr, 0, &m_readBuffer, sizeof m_readBuffer, &got,
                                      nullptr))
        return readError;
    if (WaitForSingleObject(m_interruptEvent, 0) == WAIT_OBJECT_0) {
        if (got == sizeof m_readBuffer) writeRecord(m_readBuffer, 1);
        return serveInterrupt();
    }
    if (got != sizeof m_readBuffer) return readTimeout;
    record = m_readBuffer;
    return readGotRecord;
}

BOOL deviceReader::writeRecord(const keyboardRecord& record, int count)
{
    (void)count;
    scopedLock guard(m_writeLock);
    if (!deviceOpen()) return FALSE;
    m_writeBuffer = record;
    DWORD got = 0;
    return m_operations.deviceIoControl(m_device, vxdWriteCode, &m_writeBuffer, sizeof m_writeBuffer, nullptr, 0,
                                        &got, nullptr);
}

void deviceReader::interruptThread(int reason)
{
    m_interruptThreadReason = reason;
    SetEvent(m_interruptEvent);
    if (deviceOpen()) {
        DWORD got = 0;
        m_operations.deviceIoControl(m_device, vxdReleaseCode, nullptr, 0, nullptr, 0, &got, nullptr);
    }
}

unsigned __stdcall deviceReader::idleMain(void* argument)
{
    deviceReader* reader = static_cast<deviceReader*>(argument);
    while (!reader->m_stop) {
        Sleep(1);
        if (!reader->suspended()) reader->idle();
    }
    return 0;
}

#endif  // TVN_ANSI

// Runs on the reader thread when the user-interface thread has signalled the interrupt event.
int deviceReader::serveInterrupt()
{
    cancelRead();
    const int reason = m_interruptThreadReason;
    if (reason == 0) return readStopped;
    if (reason == 1) {
        // Nothing of ours may be in flight while the device is closed under the parked thread.
        finishWrite();
        SetEvent(m_acknowledgement);
        WaitForSingleObject(m_interruptEvent, INFINITE);
        if (m_interruptThreadReason == 0) return readStopped;
        SetEvent(m_acknowledgement);
        return readError;
    }
    std::wostringstream line;
    line << L"internal error: m_interruptThreadReason == " << reason;
    writeDeviceLog(line.str());
    return readStopped;
}

unsigned __stdcall deviceReader::threadMain(void* argument)
{
    static_cast<deviceReader*>(argument)->threadLoop();
    return 0;
}

void deviceReader::threadLoop()
{
    SetEvent(m_acknowledgement);
    keyboardRecord record;
    while (!m_stop) {
        const int result = readRecord(record, 1);
        m_lastReadResult = result;
        // Failures in a row slow the next reads down; anything else starts afresh.
        if (result == readError)
            ++m_failedReads;
        else
            m_failedReads = 0;
        if (result == readTimeout)
            idle();
        else if (result == readGotRecord)
            handleRecord(record);
    }
    finishWrite();
    SetEvent(m_acknowledgement);
}

void deviceReader::startThread()
{
    openDevice();
    // A running thread may have a write in flight: its record and request stay taken until that
    // write is waited for. Only with no thread running is nothing of ours in flight.
    if (!m_stop) return;
    m_writePending = false;
    m_stop = 0;
    m_lastReadResult = 0;
    m_failedReads = 0;
    m_interruptThreadReason = 0;
    // Signals left from an earlier thread must not reach this one.
    ResetEvent(m_stopEvent);
    ResetEvent(m_interruptEvent);
    if (!m_acknowledgement) m_acknowledgement = newAutoResetEvent();
    m_thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &deviceReader::threadMain, this, 0, nullptr));
    if (!m_thread) {
        m_stop = 1;
        ErrorMessage error;
        error << L"デバイス読み取りスレッドを開始できませんでした。" << systemErrorText(GetLastError());
        throw error;
    }
    waitServingSentMessages(m_acknowledgement, INFINITE);
#ifdef TVN_ANSI
    m_idleThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &deviceReader::idleMain, this, 0, nullptr));
#endif
}

void deviceReader::stopThread()
{
    if (!m_acknowledgement) return;
    if (m_thread) {
        m_stop = 1;
        // Signalled once: a parked thread waits on the interrupt event, a running one on both.
        if (suspended())
            interruptThread(0);
        else {
            m_interruptThreadReason = 0;
            SetEvent(m_stopEvent);
#ifdef TVN_ANSI
            interruptThread(0);
#endif
        }
        waitServingSentMessages(m_acknowledgement, INFINITE);
        waitServingSentMessages(m_thread, INFINITE);
        CloseHandle(m_thread);
        m_thread = nullptr;
#ifdef TVN_ANSI
        if (m_idleThread) {
            WaitForSingleObject(m_idleThread, INFINITE);
            CloseHandle(m_idleThread);
            m_idleThread = nullptr;
        }
#endif
    }
    m_stop = 1;
    m_interruptThreadReason = 0;
    CloseHandle(m_acknowledgement);
    m_acknowledgement = nullptr;
}

bool deviceReader::suspend()
{
    if (!deviceOpen()) return true;
    if (threadRunning() && !suspended()) {
        interruptThread(1);
        waitServingSentMessages(m_acknowledgement, INFINITE);
    }
    closeDevice();
    return true;
}

bool deviceReader::resume()
{
    if (!deviceOpen()) openDevice();
    if (!suspended()) return true;
    interruptThread(2);
    waitServingSentMessages(m_acknowledgement, INFINITE);
    return true;
}
