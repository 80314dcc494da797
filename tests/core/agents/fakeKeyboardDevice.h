// A stand-in for the outside keyboard driver's device: a named pipe server that the unchanged
// device reader opens by path. It hands 12-byte keyboard records to the program as the driver
// would and collects the records that the program writes back (those the system would receive).
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/agents/deviceReader.h"

class fakeKeyboardDevice {
public:
    // A fresh pipe name of this process; listening at once unless told otherwise.
    explicit fakeKeyboardDevice(bool listening = true);
    ~fakeKeyboardDevice();
    fakeKeyboardDevice(const fakeKeyboardDevice&) = delete;
    fakeKeyboardDevice& operator=(const fakeKeyboardDevice&) = delete;

    const std::wstring& path() const { return m_path; }

    // The device appears (a client can open it) or disappears (clients are cut off).
    void startListening();
    void stopListening();
    bool listening() const { return m_acceptThread.joinable(); }

    // Hands one record to the connected program; false when none is connected within a second.
    bool send(const keyboardRecord& record);
    bool sendKey(std::uint16_t makeCode, std::uint16_t flags);

    // While held, written records stay in the pipe: the program's writes are left pending.
    void holdDeliveries(bool hold);

    bool waitForClient(DWORD timeout);
    bool waitForNoClient(DWORD timeout);
    // Until `count` clients have connected in all and one is connected now.
    bool waitForConnections(int count, DWORD timeout);
    bool waitForDelivered(size_t count, DWORD timeout);
    std::vector<keyboardRecord> delivered();
    int connections();

private:
    struct connection;
    bool sendOnce(const keyboardRecord& record);
    void serve(std::shared_ptr<connection> client);

    std::wstring m_path;
    HANDLE m_quit;
    std::thread m_acceptThread;
    std::vector<std::thread> m_serveThreads;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::shared_ptr<connection> m_current;
    std::vector<keyboardRecord> m_delivered;
    int m_connections = 0;
    bool m_hold = false;
};

keyboardRecord makeRecord(std::uint16_t makeCode, std::uint16_t flags);
bool operator==(const keyboardRecord& a, const keyboardRecord& b);

// The device names of a stand-in at `path`, with an exclusion mutex of its own, and the calls a
// stand-in can't answer: the version query answers "stand-in 1.0", the retry box cancels.
deviceNames standInDeviceNames(const std::wstring& path);
deviceOperations standInDeviceOperations();
