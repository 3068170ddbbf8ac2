// The port device on Win32: an overlapped COM port handle, its events, its lock and the monitor
// thread. It only makes the calls; the comments say what wine needs of them.
#pragma once

#include <windows.h>

#include "serial/port_device.h"
#include "terminal/frame_codec.h"

namespace quillon {

// What the overlapped calls of one open write into after they return: their records, the read's
// byte, the written frame and the completion events. A transfer whose cancellation never reported
// its end may still complete at any later time, so a block that holds one is left to it (its
// memory and events are never freed) and the next open takes a fresh block: a late completion
// lands only where nothing else looks. On the heap, so that it outlives even the library's
// unloading. One block per open; nothing is allocated per frame.
struct TransferBlock {
    // Each call has its own record and event: a wait is often still outstanding while a frame
    // goes out or a byte is read, and two operations on one record mix up their completions (a
    // read then reports the wait's 4 bytes, or its byte lands after it was handed on).
    OVERLAPPED wait = {};
    OVERLAPPED read = {};
    OVERLAPPED write = {};
    DWORD waitMask = 0;
    uint8_t readByte = 0;
    // The encoded frame, copied from the link's work area, which the next frame reuses.
    uint8_t written[kWorkAreaSize] = {};
};

class Win32PortDevice : public IPortDevice {
  public:
    Win32PortDevice() : lock() {}
    ~Win32PortDevice() override;
    Win32PortDevice(const Win32PortDevice&) = delete;
    Win32PortDevice& operator=(const Win32PortDevice&) = delete;

    Opened Open(const std::string& device, const std::string& line, uint32_t commEvents,
                uint32_t timeoutMs) override;
    void Close(Release what) override;
    bool StartThread(uint32_t (*body)(void*), void* context) override;
    void Stop() override;
    bool AwaitThreadEnd(uint64_t deadline) override;
    void AwaitWriteStep(uint64_t deadline) override;
    void SignalWrite() override { SetEvent(writeEvent); }
    uint64_t Now() override { return GetTickCount64(); }

    bool Purge() override;
    WaitStart StartWait(uint32_t* error) override;
    bool LineStatus(uint32_t* queued) override;
    Event Next(bool came, uint32_t settleMs) override;
    Transfer ReadByte(uint8_t* byte, uint32_t* got, uint32_t* error) override;
    Transfer Write(const uint8_t* data, int length, uint32_t* written, uint32_t* error) override;
    void EndWriteStep() override { SetEvent(writeDoneEvent); }
    bool EndWait() override;
    std::string SystemText(uint32_t error) override;

  protected:
    static DWORD WINAPI ThreadMain(LPVOID device);
    // The outcome of a write or read the call has issued (`done`: it completed at once). A
    // pending one is waited for without the lock, until it completes or Stop cancels it.
    Transfer Finish(BOOL done, HANDLE handle, OVERLAPPED* record, DWORD* transferred,
                    uint32_t* error);

    HANDLE monitorThread = nullptr;
    // The thread's reference to the library: a host's FreeLibrary cannot unmap the code it runs.
    HMODULE threadModule = nullptr;
    uint32_t (*threadBody)(void*) = nullptr;
    void* threadContext = nullptr;
    CRITICAL_SECTION lock;
    bool lockReady = false;  // from Open to the Close that frees it
    HANDLE portHandle = nullptr;
    HANDLE shutdownEvent = nullptr;
    HANDLE writeEvent = nullptr;
    HANDLE events[3] = {};  // shutdown, comm-event wait, write
    TransferBlock* transfers = nullptr;
    // Set (auto-reset) at the end of each write step; lives as long as the object.
    HANDLE writeDoneEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    // Set under the lock by Stop: the monitor thread starts no wait, read or purge after it.
    bool closing = false;
};

}  // namespace quillon
