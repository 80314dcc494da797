// The program's side of the outside keyboard filter driver: exclusion against the driver's own
// product, the device (its service started when the device is missing), the driver's version
// text, and a thread that reads keyboard records from the device and hands them to the agent.
// The agent writes back every record that is to reach the system.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/platform/locks.h"
#include "core/platform/omsgstream.h"
#include "core/platform/tstring.h"

// One keyboard record as the driver hands it over and takes it back (12 bytes, little-endian).
struct keyboardRecord {
    std::uint16_t UnitId;
    std::uint16_t MakeCode;  // set-1 make code
    std::uint16_t Flags;     // recordKeyBreak, recordKeyE0, recordKeyE1
    std::uint16_t Reserved;
    std::uint32_t ExtraInformation;
};
static_assert(sizeof(keyboardRecord) == 12, "the driver's record is 12 bytes");

enum : std::uint16_t {
    recordKeyBreak = 1,  // release
    recordKeyE0 = 2,
    recordKeyE1 = 4,
};
// A read record with this make code says that the driver's own buffer overflowed.
const std::uint16_t overflowMakeCode = 255;
// Asks the driver for its version text (keyboard device type, function 0x802, buffered, any access).
const DWORD driverVersionControlCode = 0xB2008;

// Where the driver is found. The real names are the defaults; tests point at a stand-in.
struct deviceNames {
    tstring devicePath;
    std::wstring serviceName;
    tstring mutexName;  // the session id of the process is appended (not in the ANSI build)
};
deviceNames driverDeviceNames();

// The calls a stand-in device can't answer: the version query, the service manager and the
// retry box of the exclusion. The system's calls by default (the ANSI build, whose device needs
// no service, leaves the service calls empty).
struct deviceOperations {
    BOOL(WINAPI* deviceIoControl)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    SC_HANDLE(WINAPI* openSCManager)(LPCWSTR, LPCWSTR, DWORD);
    SC_HANDLE(WINAPI* openService)(SC_HANDLE, LPCWSTR, DWORD);
    BOOL(WINAPI* startService)(SC_HANDLE, DWORD, LPCWSTR*);
    BOOL(WINAPI* controlService)(SC_HANDLE, DWORD, LPSERVICE_STATUS);
    BOOL(WINAPI* closeServiceHandle)(SC_HANDLE);
    int(WINAPI* messageBox)(HWND, LPCWSTR, LPCWSTR, UINT);
};
const deviceOperations& systemDeviceOperations();

// Results of one read.
enum : int {
    readError = 1,
    readTimeout = 2,
    readGotRecord = 3,
    readStopped = 4,
};

// Exclusion, log, device lock and the driver's version text.
class deviceConnection {
public:
    using logStream = std::shared_ptr<omsgstream>;

    // Holds the named mutex for the connection's whole life. While another holder has it, the
    // retry box asks; Cancel, a failing box or a mutex that can't be created throw ErrorMessage.
    deviceConnection(logStream log, const deviceNames& names, const deviceOperations& operations);
    virtual ~deviceConnection();
    deviceConnection(const deviceConnection&) = delete;
    deviceConnection& operator=(const deviceConnection&) = delete;

    const std::wstring& versionText() const { return m_versionText; }
    // Taken around the agent's handling of a record and around its idle work.
    sectionLock& deviceLock() { return m_deviceLock; }
    int lastReadResult() const { return m_lastReadResult; }

protected:
    // One line of the log under the log's lock.
    void writeDeviceLog(const std::wstring& line);

    logStream m_deviceLog;
    sectionLock m_deviceLock;
    HANDLE m_acknowledgement = nullptr;  // auto-reset; the thread's answer to start, stop, suspend, resume
    volatile LONG m_stop = 1;            // 1 while no thread runs
    volatile int m_lastReadResult = 0;
    std::wstring m_versionText = L"版号記述なし";
    HANDLE m_exclusionMutex = nullptr;
    deviceNames m_names;
    deviceOperations m_operations;
};

// The device and the thread that reads it.
class deviceReader : public deviceConnection {
public:
    // Creates the events and reads the driver's version (opening, then closing the device).
    // Throws ErrorMessage when the exclusion is refused or the device can't be opened.
    explicit deviceReader(logStream log, const deviceNames& names = driverDeviceNames(),
                          const deviceOperations& operations = systemDeviceOperations());
    // A class that implements handleRecord or idle must stop the thread in its own destructor.
    ~deviceReader() override;

    // Opens the device and starts the thread when none runs.
    virtual void startThread();
    // Ends the thread (a suspended one too); nothing when none was started.
    virtual void stopThread();
    // Parks the thread and closes the device (stopping the service when this program started it).
    virtual bool suspend();
    // Reopens the device when closed and wakes a parked thread. Throws ErrorMessage when the
    // device can't be opened.
    virtual bool resume();
    // One record read from the device; true when it was taken. Runs on the reader thread.
    virtual bool handleRecord(const keyboardRecord& record) = 0;
    // Runs on the reader thread about every millisecond while no record comes.
    virtual void idle() = 0;
    // One read: readError, readTimeout, readGotRecord or readStopped.
    virtual int readRecord(keyboardRecord& record, int count);
    // Hands records to the driver, which delivers them to the system. The record is copied
    // before the call returns.
    virtual BOOL writeRecord(const keyboardRecord& record, int count);
    virtual void openDevice();
    virtual void closeDevice();
    virtual HANDLE deviceHandle() const { return m_device; }

    bool deviceOpen() const { return m_device != INVALID_HANDLE_VALUE; }
    bool threadRunning() const { return m_stop == 0; }
    bool suspended() const { return m_interruptThreadReason == 1; }
    bool serviceStarted() const { return m_serviceStarted; }
    // A write was issued and not yet waited for: its record and request are still taken.
    bool writePending() const { return m_writePending; }

protected:
    void readDriverVersion();
    void stopDriverService();

private:
    static unsigned __stdcall threadMain(void* reader);
    void threadLoop();
    void interruptThread(int reason);
    int serveInterrupt();
    void cancelRead();
    void finishWrite();

    HANDLE m_readEvent;
    HANDLE m_writeEvent;
    HANDLE m_stopEvent;
    HANDLE m_interruptEvent;
    HANDLE m_device = INVALID_HANDLE_VALUE;
    OVERLAPPED m_readRequest;
    OVERLAPPED m_writeRequest;
    volatile int m_interruptThreadReason = 0;  // 0 stop, 1 suspend, 2 resume
    bool m_serviceStarted = false;
    bool m_writePending = false;
    bool m_readPending = false;
    int m_failedReads = 0;
    // The overlapped operations work on these, never on a caller's record: a write completes
    // after writeRecord has returned.
    keyboardRecord m_readBuffer;
    keyboardRecord m_writeBuffer;
    sectionLock m_writeLock;
    HANDLE m_thread = nullptr;
#ifdef TVN_ANSI
    static unsigned __stdcall idleMain(void* reader);
    HANDLE m_idleThread = nullptr;
#endif
};
