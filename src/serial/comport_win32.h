// The Win32 side of ComPort: an overlapped COM port handle, its events, its lock and the monitor
// thread, as IPortDevice. Every decision is ComPort's and PortMonitor's; this only makes the
// calls, and keeps what wine needs (see the comments at the members).
#pragma once

#include <windows.h>

#include "foundation/wait_win32.h"
#include "serial/comport.h"

namespace quillon {

const DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// What the overlapped calls of one port run write into after they return: their records, the
// read's byte, the written frame and the completion events. A transfer whose cancellation never
// reported its end may still complete at any later time, so a block that holds one is left to it
// (its memory and events are never freed) and the next open takes a fresh block: a late
// completion lands only where nothing else looks. On the heap, so that it outlives even the
// library's unloading. One block per open; nothing is allocated per frame.
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
    // A transfer that ignored its cancellation (set by the monitor thread, read once it has
    // ended).
    volatile bool abandoned = false;
};

class Win32PortDevice : public IPortDevice {
  public:
    Win32PortDevice();
    ~Win32PortDevice() override;
    Win32PortDevice(const Win32PortDevice&) = delete;
    Win32PortDevice& operator=(const Win32PortDevice&) = delete;

    bool HasPort() override { return portHandle != nullptr; }
    void BeginThread() override;
    WaitStart StartCommWait(uint32_t* error) override;
    bool ClearErrors(uint32_t* queued) override;
    void SignalCommEvent() override { SetEvent(transfers->wait.hEvent); }
    Event WaitForEvent() override;
    bool ReceivedCharacter() override;
    void Pause(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }
    Transfer ReadByte(uint8_t* byte, uint32_t* got, uint32_t* error) override;
    bool PurgeForWrite() override;
    Transfer Write(const uint8_t* data, int length, uint32_t* written, uint32_t* error) override;
    void WriteStepDone() override;
    void EndPendingWait() override;
    void EndThread() override {
        threadAlive = FALSE;
        if (threadClosedEvent != nullptr) SetEvent(threadClosedEvent);
    }
    std::string SystemText(uint32_t error) override;
    bool AdoptKeptHandle() override;
    void SignalWrite() override { SetEvent(writeEvent); }

    bool MonitorPresent() override { return threadAlive || monitorThread != nullptr; }
    unsigned ReplaceEvents() override;
    void Lock() override {
        if (lockReady) EnterCriticalSection(&lock);
    }
    void Unlock() override {
        if (lockReady) LeaveCriticalSection(&lock);
    }
    void CloseHandle() override;
    bool Open(const std::string& device) override;
    uint32_t LastError() override { return lastError; }
    bool Configure(ConfigStep step, uint32_t value, const std::string& line) override;
    void Purge() override { PurgeComm(portHandle, kPurgeAll); }
    bool ThreadRunning() override;
    bool StartThread(uint32_t (*body)(void*), void* context) override;
    void StopTransfers() override;
    void SignalShutdown() override {
        if (shutdownEvent != nullptr) SetEvent(shutdownEvent);
    }
    uint64_t Now() override { return GetTickCount64(); }
    void WaitThreadClosed(uint64_t deadline) override {
        WaitServingSentMessages(threadClosedEvent, deadline);
    }
    bool WaitThreadEnd(uint64_t deadline) override;
    void ReleaseEvents() override;
    void ForgetKeptHandle() override { keptHandle = nullptr; }
    int32_t WritesCompleted() override { return writesCompleted; }
    void AwaitWriteStep(uint32_t milliseconds) override;

  protected:
    static DWORD WINAPI ThreadMain(LPVOID device);
    // The outcome of a write or read the call has issued (`done`: it completed at once). A
    // pending one is waited for without the lock, until it completes or the port closes (which
    // cancels it).
    Transfer Finish(BOOL done, HANDLE handle, OVERLAPPED* record, DWORD* transferred,
                    uint32_t* error);
    // Frees the current transfer block, or leaves it to a transfer that never ended.
    void RetireTransfers();

    HANDLE monitorThread = nullptr;
    // The thread's reference to the library: a host's FreeLibrary cannot unmap the code it runs.
    HMODULE threadModule = nullptr;
    uint32_t (*threadBody)(void*) = nullptr;
    void* threadContext = nullptr;
    CRITICAL_SECTION lock;
    // Whether `lock` is initialised: ReplaceEvents initialises it once and ReleaseEvents deletes
    // it once the monitor thread has ended, however often either is called.
    bool lockReady = false;
    // Alive from StartThread on, not from the thread's first step: a close or reopen that comes
    // before the thread has run must still wait for it.
    volatile BOOL threadAlive = FALSE;
    HANDLE shutdownEvent = nullptr;
    HANDLE threadClosedEvent = nullptr;
    HANDLE portHandle = nullptr;
    // The handle of the last open: a frame handed over while the port's own is empty (the
    // object was reset while the dialog still held the port) goes out through it. Forgotten when
    // that very handle is closed, so no copy of a closed handle is left behind.
    HANDLE keptHandle = nullptr;
    HANDLE writeEvent = nullptr;
    HANDLE eventArray[3] = {};  // shutdown, comm-event wait, write
    // From ReplaceEvents to ReleaseEvents: the overlapped calls' records, buffers and events.
    TransferBlock* transfers = nullptr;
    COMMTIMEOUTS timeouts = {};
    DCB dcb = {};
    HANDLE writeHandle = nullptr;  // the handle the write step purged, for its write
    uint32_t lastError = 0;
    volatile LONG writesCompleted = 0;
    // Set (auto-reset) each time the count above goes up; lives as long as the object.
    HANDLE writeDoneEvent;
    // Set under the lock by a close: the monitor thread starts no wait, read or write after it.
    bool closing = false;
};

}  // namespace quillon
