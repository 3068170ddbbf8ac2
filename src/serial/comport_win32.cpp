// The Win32 port device: opening, configuring and closing the COM port, its events, its lock and
// the monitor thread's life. The thread's own calls are in port_monitor_win32.cpp.
#include "serial/comport_win32.h"

namespace quillon {

namespace {

void CloseAndClear(HANDLE* handle) {
    if (*handle != nullptr) ::CloseHandle(*handle);
    *handle = nullptr;
}

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

}  // namespace

Win32PortDevice::Win32PortDevice()
    : lock(), writeDoneEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

Win32PortDevice::~Win32PortDevice() {
    // At unload: release what is still held without waiting on a thread.
    CloseAndClear(&portHandle);
    HANDLE* handles[] = {&monitorThread, &writeEvent, &shutdownEvent, &threadClosedEvent,
                         &writeDoneEvent};
    for (HANDLE* h : handles) CloseAndClear(h);
    if (!threadAlive) RetireTransfers();
    if (lockReady && !threadAlive) DeleteCriticalSection(&lock);
}

void Win32PortDevice::RetireTransfers() {
    if (transfers != nullptr && !transfers->abandoned) {
        HANDLE* events[] = {&transfers->wait.hEvent, &transfers->read.hEvent,
                            &transfers->write.hEvent};
        for (HANDLE* h : events) CloseAndClear(h);
        delete transfers;
    }
    transfers = nullptr;
}

std::string Win32PortDevice::SystemText(uint32_t error) {
    char text[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    return text;
}

bool Win32PortDevice::AdoptKeptHandle() {
    if (keptHandle == nullptr) return false;
    portHandle = keptHandle;
    return true;
}

unsigned Win32PortDevice::ReplaceEvents() {
    TransferBlock* fresh = new TransferBlock();  // before anything changes: it may throw
    unsigned existed = 0;
    if (transfers != nullptr && transfers->wait.hEvent != nullptr) existed |= 1;
    HANDLE* events[] = {&writeEvent, &shutdownEvent, &threadClosedEvent};
    for (unsigned i = 0; i < 3; ++i) {
        if (*events[i] != nullptr) existed |= 2u << i;
        CloseAndClear(events[i]);
    }
    RetireTransfers();
    transfers = fresh;
    for (HANDLE* h : events) *h = NewEvent();
    HANDLE* records[] = {&transfers->wait.hEvent, &transfers->read.hEvent,
                         &transfers->write.hEvent};
    for (HANDLE* h : records) *h = NewEvent();
    eventArray[0] = shutdownEvent;
    eventArray[1] = transfers->wait.hEvent;
    eventArray[2] = writeEvent;
    if (!lockReady) InitializeCriticalSection(&lock);
    lockReady = true;
    closing = false;
    return existed;
}

void Win32PortDevice::CloseHandle() {
    if (keptHandle == portHandle) keptHandle = nullptr;
    CloseAndClear(&portHandle);
}

bool Win32PortDevice::Open(const std::string& device) {
    const HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    lastError = GetLastError();
    keptHandle = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    if (handle != INVALID_HANDLE_VALUE) portHandle = handle;
    return handle != INVALID_HANDLE_VALUE;
}

bool Win32PortDevice::Configure(ConfigStep step, uint32_t value, const std::string& line) {
    BOOL ok = FALSE;
    switch (step) {
        case ConfigStep::kTimeouts:
            timeouts = {value, value, value, value, value};
            ok = SetCommTimeouts(portHandle, &timeouts);
            break;
        case ConfigStep::kMask:
            ok = SetCommMask(portHandle, value);
            break;
        case ConfigStep::kGetState:
            ok = GetCommState(portHandle, &dcb);
            break;
        case ConfigStep::kBuildState:
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
            ok = BuildCommDCBA(line.c_str(), &dcb);
            break;
        case ConfigStep::kSetState:
            ok = SetCommState(portHandle, &dcb);
            break;
    }
    if (!ok) lastError = GetLastError();
    return ok != FALSE;
}

bool Win32PortDevice::ThreadRunning() {
    if (monitorThread == nullptr) return false;
    if (WaitForSingleObject(monitorThread, 0) != WAIT_OBJECT_0) return true;
    CloseAndClear(&monitorThread);
    return false;
}

bool Win32PortDevice::StartThread(uint32_t (*body)(void*), void* context) {
    if (transfers == nullptr) return false;  // no open has prepared the port
    // The thread holds the library while it runs and lets it go as it exits: a host that frees
    // the library meanwhile cannot unmap the code under it.
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&ThreadMain), &module)) {
        return false;
    }
    threadModule = module;
    threadBody = body;
    threadContext = context;
    threadAlive = TRUE;
    monitorThread = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    if (monitorThread == nullptr) {
        threadAlive = FALSE;
        FreeLibrary(module);
    }
    return monitorThread != nullptr;
}

DWORD WINAPI Win32PortDevice::ThreadMain(LPVOID param) {
    Win32PortDevice* device = static_cast<Win32PortDevice*>(param);
    const HMODULE module = device->threadModule;
    DWORD code = 0;
    try {
        code = device->threadBody(device->threadContext);
    } catch (...) {
        // Out of memory in a log line, say. The thread ends as after a fatal wait error, leaving
        // no wait outstanding; the dialog's own time-out ends the operation.
        device->EndPendingWait();
        device->EndThread();
        code = kFatalWaitExitCode;
    }
    // The last step: this may unload the library, the device with it.
    FreeLibraryAndExitThread(module, code);
}

void Win32PortDevice::StopTransfers() {
    if (!lockReady) return;
    Lock();
    closing = true;
    if (portHandle != nullptr) {
        // Clearing the mask ends the comm-event wait (cancelling it does not, under wine);
        // cancelling ends a write the line does not take, or a read, wherever it waits.
        SetCommMask(portHandle, 0);
        CancelIoEx(portHandle, nullptr);
    }
    Unlock();
}

bool Win32PortDevice::WaitThreadEnd(uint64_t deadline) {
    if (monitorThread == nullptr) return true;
    if (!WaitServingSentMessages(monitorThread, deadline)) return false;
    CloseAndClear(&monitorThread);
    threadAlive = FALSE;
    return true;
}

void Win32PortDevice::ReleaseEvents() {
    HANDLE* events[] = {&writeEvent, &threadClosedEvent, &shutdownEvent};
    for (HANDLE* h : events) CloseAndClear(h);
    RetireTransfers();
    eventArray[0] = eventArray[1] = eventArray[2] = nullptr;
    threadAlive = FALSE;
    if (lockReady) DeleteCriticalSection(&lock);
    lockReady = false;
}

void Win32PortDevice::AwaitWriteStep(uint32_t milliseconds) {
    const DWORD events = writeDoneEvent != nullptr ? 1 : 0;
    MsgWaitForMultipleObjects(events, &writeDoneEvent, FALSE, events != 0 ? milliseconds : 1,
                              QS_SENDMESSAGE);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

}  // namespace quillon
