// The Win32 side of ComPort: an overlapped COM port handle, its events, its lock and the monitor
// thread, as IPortDevice. Every decision is ComPort's and PortMonitor's; this only makes the
// calls, and keeps what wine needs (see the comments at the members).
#pragma once

#include <windows.h>

#include "foundation/wait_win32.h"
#include "serial/comport.h"

namespace quillon {

const DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

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
    void SignalCommEvent() override { SetEvent(overlap.hEvent); }
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
    bool TransferStuck() override { return transferStuck; }
    void ReleaseEvents() override;
    void ForgetKeptHandle() override { keptHandle = nullptr; }
    int32_t WritesCompleted() override { return writesCompleted; }
    void AwaitWriteStep(uint32_t milliseconds) override;

  protected:
    static DWORD WINAPI ThreadMain(LPVOID device);
    // The outcome of a write or read the call has issued (`done`: it completed at once). A
    // pending one is waited for without the lock, until it completes or the port closes (which
    // cancels it).
    Transfer Finish(BOOL done, HANDLE handle, OVERLAPPED* io, DWORD* transferred, uint32_t* error);

    HANDLE monitorThread = nullptr;
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
    // `overlap` serves the comm-event wait alone; reads and writes get their own overlapped
    // records and events. A wait is often still outstanding while a frame goes out or a byte is
    // read, and two operations on one record mix up their completions (a read then reports the
    // wait's 4 bytes, or its byte lands after it was handed on).
    OVERLAPPED overlap = {};
    OVERLAPPED readOverlap = {};
    OVERLAPPED writeOverlap = {};
    COMMTIMEOUTS timeouts = {};
    DCB dcb = {};
    // Filled by an overlapped WaitCommEvent and ReadFile after the call returns, so they live
    // in the object rather than on the thread's stack.
    DWORD waitEventMask = 0;
    uint8_t readByte = 0;
    HANDLE writeHandle = nullptr;  // the handle the write step purged, for its write
    uint32_t lastError = 0;
    volatile LONG writesCompleted = 0;
    // Set (auto-reset) each time the count above goes up; lives as long as the object.
    HANDLE writeDoneEvent;
    // Set under the lock by a close: the monitor thread starts no wait, read or write after it.
    bool closing = false;
    // A cancelled transfer that never reported its end: its record and event are left to it.
    volatile bool transferStuck = false;
};

}  // namespace quillon
