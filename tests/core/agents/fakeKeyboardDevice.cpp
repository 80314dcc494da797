#include "fakeKeyboardDevice.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

struct fakeKeyboardDevice::connection {
    HANDLE pipe;
    std::mutex lock;
};

keyboardRecord makeRecord(std::uint16_t makeCode, std::uint16_t flags)
{
    keyboardRecord record;
    std::memset(&record, 0, sizeof record);
    record.MakeCode = makeCode;
    record.Flags = flags;
    return record;
}

bool operator==(const keyboardRecord& a, const keyboardRecord& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

fakeKeyboardDevice::fakeKeyboardDevice(bool listening) : m_quit(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    static std::atomic<int> counter{0};
    m_path = L"\\\\.\\pipe\\tvnFakeKeyboard-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(++counter);
    if (listening) startListening();
}

fakeKeyboardDevice::~fakeKeyboardDevice()
{
    stopListening();
    CloseHandle(m_quit);
}

namespace {

const size_t waitingInstances = 16;

// One pipe instance waiting for a client.
struct pendingInstance {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE connected = nullptr;
    OVERLAPPED request;
    bool ready = false;  // a client came before the wait began
};

bool listen(const std::wstring& path, pendingInstance& instance)
{
    instance.pipe = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                     PIPE_UNLIMITED_INSTANCES, 64, 64, 0, nullptr);
    if (instance.pipe == INVALID_HANDLE_VALUE) return false;
    instance.connected = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::memset(&instance.request, 0, sizeof instance.request);
    instance.request.hEvent = instance.connected;
    instance.ready = false;
    if (ConnectNamedPipe(instance.pipe, &instance.request) || GetLastError() == ERROR_PIPE_CONNECTED) {
        instance.ready = true;
        SetEvent(instance.connected);
    }
    return true;
}

// Closes a waiting instance. Answers false when its cancelled wait has not ended yet: the system
// may still write to the request then, so the request must not be freed.
bool abandon(pendingInstance& instance)
{
    if (instance.pipe == INVALID_HANDLE_VALUE) return true;
    CancelIo(instance.pipe);
    const bool ended = instance.ready || WaitForSingleObject(instance.connected, 0) == WAIT_OBJECT_0;
    CloseHandle(instance.pipe);
    if (ended) CloseHandle(instance.connected);
    instance.pipe = INVALID_HANDLE_VALUE;
    return ended;
}

}  // namespace

void fakeKeyboardDevice::startListening()
{
    if (listening()) return;
    ResetEvent(m_quit);
    // Several instances wait at all times, so a client that closes and reopens at once (as the
    // reader does after reading the version) finds one free. They exist before this returns.
    auto* pending = new std::vector<pendingInstance>(waitingInstances);
    for (pendingInstance& instance : *pending) listen(m_path, instance);
    m_acceptThread = std::thread([this, pending] {
        std::vector<pendingInstance>& instances = *pending;
        for (;;) {
            HANDLE handles[waitingInstances + 1] = {m_quit};
            for (size_t i = 0; i < waitingInstances; ++i) handles[i + 1] = instances[i].connected;
            const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(waitingInstances + 1), handles, FALSE, INFINITE);
            if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
            pendingInstance& instance = instances[woke - WAIT_OBJECT_0 - 1];
            DWORD unused = 0;
            const bool connected =
                instance.ready || GetOverlappedResult(instance.pipe, &instance.request, &unused, FALSE);
            CloseHandle(instance.connected);
            if (connected) {
                auto client = std::make_shared<connection>();
                client->pipe = instance.pipe;
                {
                    std::lock_guard<std::mutex> guard(m_lock);
                    m_current = client;
                    ++m_connections;
                }
                m_changed.notify_all();
                m_serveThreads.emplace_back([this, client] { serve(client); });
            } else {
                CloseHandle(instance.pipe);
            }
            instance.pipe = INVALID_HANDLE_VALUE;
            if (!listen(m_path, instance)) break;
        }
        bool ended = true;
        for (pendingInstance& instance : instances) ended = abandon(instance) && ended;
        // Wine does not end a cancelled wait for a client; such requests are left allocated.
        if (ended) delete pending;
    });
}

void fakeKeyboardDevice::serve(std::shared_ptr<connection> client)
{
    HANDLE readDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (;;) {
        bool quit = false;
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(m_lock);
                if (!m_hold) break;
            }
            if (WaitForSingleObject(m_quit, 2) == WAIT_OBJECT_0) {
                quit = true;
                break;
            }
        }
        if (quit) break;
        OVERLAPPED request;
        std::memset(&request, 0, sizeof request);
        request.hEvent = readDone;
        keyboardRecord record;
        DWORD got = 0;
        BOOL ok = ReadFile(client->pipe, &record, sizeof record, &got, &request);
        if (!ok && GetLastError() == ERROR_IO_PENDING) {
            const HANDLE handles[2] = {readDone, m_quit};
            if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelIo(client->pipe);
                GetOverlappedResult(client->pipe, &request, &got, TRUE);
                break;
            }
            ok = GetOverlappedResult(client->pipe, &request, &got, FALSE);
        }
        if (!ok) break;
        if (got == sizeof record) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_delivered.push_back(record);
        }
        m_changed.notify_all();
    }
    CloseHandle(readDone);
    {
        std::lock_guard<std::mutex> guard(client->lock);
        DisconnectNamedPipe(client->pipe);
        CloseHandle(client->pipe);
        client->pipe = INVALID_HANDLE_VALUE;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_current == client) m_current.reset();
    }
    m_changed.notify_all();
}

void fakeKeyboardDevice::stopListening()
{
    if (!listening()) return;
    SetEvent(m_quit);
    m_acceptThread.join();
    for (std::thread& t : m_serveThreads) t.join();
    m_serveThreads.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    m_current.reset();
}

bool fakeKeyboardDevice::sendOnce(const keyboardRecord& record)
{
    std::shared_ptr<connection> client;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        client = m_current;
    }
    if (!client) return false;
    std::lock_guard<std::mutex> guard(client->lock);
    if (client->pipe == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED request;
    std::memset(&request, 0, sizeof request);
    request.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    BOOL ok = WriteFile(client->pipe, &record, sizeof record, &written, &request);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(request.hEvent, 2000) != WAIT_OBJECT_0) CancelIo(client->pipe);
        ok = GetOverlappedResult(client->pipe, &request, &written, TRUE);
    }
    CloseHandle(request.hEvent);
    return ok && written == sizeof record;
}

bool fakeKeyboardDevice::send(const keyboardRecord& record)
{
    // The newest connection may still be one that its client has just closed (reading the
    // version opens and closes the device); the client's next connection follows at once.
    const DWORD start = GetTickCount();
    while (!sendOnce(record)) {
        if (GetTickCount() - start > 1000) return false;
        Sleep(2);
    }
    return true;
}

bool fakeKeyboardDevice::sendKey(std::uint16_t makeCode, std::uint16_t flags)
{
    return send(makeRecord(makeCode, flags));
}

void fakeKeyboardDevice::holdDeliveries(bool hold)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_hold = hold;
}

bool fakeKeyboardDevice::waitForClient(DWORD timeout)
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeout), [this] { return m_current != nullptr; });
}

bool fakeKeyboardDevice::waitForNoClient(DWORD timeout)
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeout), [this] { return m_current == nullptr; });
}

bool fakeKeyboardDevice::waitForConnections(int count, DWORD timeout)
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeout),
                              [this, count] { return m_connections >= count && m_current != nullptr; });
}

bool fakeKeyboardDevice::waitForDelivered(size_t count, DWORD timeout)
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeout),
                              [this, count] { return m_delivered.size() >= count; });
}

std::vector<keyboardRecord> fakeKeyboardDevice::delivered()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_delivered;
}

int fakeKeyboardDevice::connections()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_connections;
}

static BOOL WINAPI versionQuery(HANDLE, DWORD code, LPVOID, DWORD, LPVOID out, DWORD, LPDWORD returned, LPOVERLAPPED)
{
    if (code != driverVersionControlCode) return FALSE;
    static const wchar_t text[] = L"stand-in 1.0";
    std::memcpy(out, text, sizeof text - sizeof(wchar_t));
    *returned = sizeof text - sizeof(wchar_t);
    return TRUE;
}

static int WINAPI refuseBox(HWND, LPCWSTR, LPCWSTR, UINT) { return IDCANCEL; }

deviceOperations standInDeviceOperations()
{
    deviceOperations operations = systemDeviceOperations();
    operations.deviceIoControl = &versionQuery;
    operations.messageBox = &refuseBox;
    return operations;
}

deviceNames standInDeviceNames(const std::wstring& path)
{
    static std::atomic<int> counter{0};
    deviceNames names = driverDeviceNames();
    names.devicePath = path;
    names.mutexName = L"tvnDriverLocalTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      std::to_wstring(++counter);
    return names;
}
