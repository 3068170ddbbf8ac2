// The monitor thread's calls on the Win32 port: the comm-event wait, reads, the purge before a
// write, and the waits for an overlapped transfer that a close may cancel.
#include <algorithm>
#include <cstring>

#include "serial/comport_win32.h"

namespace quillon {

namespace {

// How long a cancelled write or read may take to report that it has ended.
const DWORD kCancelLandsMs = 1000;

}  // namespace

void Win32PortDevice::BeginThread() {
    threadAlive = TRUE;
    Lock();
    if (portHandle != nullptr) PurgeComm(portHandle, kPurgeAll);
    Unlock();
}

IMonitorIo::WaitStart Win32PortDevice::StartCommWait(uint32_t* error) {
    Lock();
    const HANDLE handle = closing ? nullptr : portHandle;
    BOOL done = FALSE;
    if (handle != nullptr) {
        done = WaitCommEvent(handle, &transfers->waitMask, &transfers->wait);
        *error = GetLastError();
    }
    Unlock();
    if (handle == nullptr) return WaitStart::kNoPort;
    return done ? WaitStart::kCompleted : WaitStart::kFailed;
}

bool Win32PortDevice::ClearErrors(uint32_t* queued) {
    DWORD errors = 0;
    COMSTAT comstat = {};
    Lock();
    const bool ok = portHandle != nullptr && ClearCommError(portHandle, &errors, &comstat);
    Unlock();
    *queued = comstat.cbInQue;
    return ok;
}

IMonitorIo::Event Win32PortDevice::WaitForEvent() {
    const DWORD which = WaitForMultipleObjects(3, eventArray, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0) return Event::kShutdown;
    if (which == WAIT_OBJECT_0 + 2) return Event::kWrite;
    if (which != WAIT_OBJECT_0 + 1) return Event::kOther;
    ResetEvent(transfers->wait.hEvent);
    return Event::kCommEvent;
}

bool Win32PortDevice::ReceivedCharacter() {
    DWORD mask = 0;
    if (portHandle != nullptr) GetCommMask(portHandle, &mask);
    return (mask & EV_RXCHAR) != 0;
}

IMonitorIo::Transfer Win32PortDevice::ReadByte(uint8_t* byte, uint32_t* got, uint32_t* error) {
    Lock();
    const HANDLE handle = closing ? nullptr : portHandle;
    DWORD count = 0;
    TransferBlock& t = *transfers;
    const BOOL done = handle != nullptr && ReadFile(handle, &t.readByte, 1, &count, &t.read);
    *error = done ? ERROR_SUCCESS : GetLastError();
    DWORD errors = 0;
    COMSTAT comstat;
    if (handle != nullptr && !done && *error == ERROR_IO_PENDING) {
        ClearCommError(handle, &errors, &comstat);
    }
    Unlock();
    if (handle == nullptr) return Transfer::kNoPort;
    // Waited for without the lock, like a write: the close cancels it.
    const Transfer result = Finish(done, handle, &t.read, &count, error);
    *byte = t.readByte;  // a pending read's byte lands only as it completes
    *got = count;
    return result;
}

bool Win32PortDevice::PurgeForWrite() {
    ResetEvent(writeEvent);
    Lock();
    writeHandle = closing ? nullptr : portHandle;
    if (writeHandle != nullptr) {
        transfers->write.Offset = transfers->write.OffsetHigh = 0;
        PurgeComm(writeHandle, kPurgeAll);
    }
    Unlock();
    return writeHandle != nullptr;
}

IMonitorIo::Transfer Win32PortDevice::Write(const uint8_t* data, int length, uint32_t* written,
                                            uint32_t* error) {
    // Issued outside the lock: a driver may take its time inside the call itself, and a close
    // must not queue behind it. The handle stays open until this thread has ended.
    // Written from the transfer's own copy: a write left pending may still read it after the
    // link's work area holds the next frame.
    TransferBlock& t = *transfers;
    const size_t size = std::min(static_cast<size_t>(length), sizeof t.written);
    std::memcpy(t.written, data, size);
    DWORD count = 0;
    const BOOL done = WriteFile(writeHandle, t.written, static_cast<DWORD>(size), &count, &t.write);
    *error = done ? ERROR_SUCCESS : GetLastError();
    // A line that takes no bytes keeps the write pending for its whole time-out (10 s a byte):
    // it is waited for without the lock, and the close cancels it.
    const Transfer result = Finish(done, writeHandle, &t.write, &count, error);
    *written = count;
    return result;
}

IMonitorIo::Transfer Win32PortDevice::Finish(BOOL done, HANDLE handle, OVERLAPPED* record,
                                             DWORD* transferred, uint32_t* error) {
    if (done) return Transfer::kDone;
    *transferred = 0;
    if (*error != ERROR_IO_PENDING) return Transfer::kFailed;
    const HANDLE waits[2] = {record->hEvent, shutdownEvent};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        // The port is closing. Its close cancelled what was pending then; a transfer issued just
        // after that is cancelled here (the handle stays open until this thread has ended). Let
        // the cancellation land before the record is used again; one that never lands leaves the
        // whole transfer block to the transfer.
        CancelIoEx(handle, record);
        if (WaitForSingleObject(record->hEvent, kCancelLandsMs) != WAIT_OBJECT_0) {
            transfers->abandoned = true;
            *error = ERROR_OPERATION_ABORTED;
            return Transfer::kStuck;
        }
    }
    // Completed (or cancelled): the record holds the outcome, the handle is not waited on.
    const BOOL completed = GetOverlappedResult(handle, record, transferred, FALSE);
    *error = completed ? ERROR_SUCCESS : GetLastError();
    if (!completed) *transferred = 0;
    return completed ? Transfer::kDone : Transfer::kPendingFailed;
}

void Win32PortDevice::WriteStepDone() {
    ResetEvent(writeEvent);
    InterlockedIncrement(&writesCompleted);
    if (writeDoneEvent != nullptr) SetEvent(writeDoneEvent);
}

void Win32PortDevice::EndPendingWait() {
    // Clearing the mask ends the wait (cancelling it does not, under wine); the handle is about
    // to be closed or reopened, which sets the mask again. A closed handle has ended it already.
    Lock();
    if (portHandle != nullptr) SetCommMask(portHandle, 0);
    Unlock();
    // Only the wait uses its record, so its status tells when the wait has ended (a cancelled
    // wait does not always signal the event). One that never ends keeps the transfer block.
    OVERLAPPED& wait = transfers->wait;
    const ULONGLONG deadline = GetTickCount64() + kCancelLandsMs;
    while (!HasOverlappedIoCompleted(&wait) && GetTickCount64() < deadline) {
        WaitForSingleObject(wait.hEvent, 1);
    }
    if (!HasOverlappedIoCompleted(&wait)) transfers->abandoned = true;
}

}  // namespace quillon
