// quillon_bridge: the native-messaging host between a browser extension and quillon.dll. The
// browser starts it and talks over the standard input and output; the Session decides, this file
// reads, writes, loads the library and runs its calls on a thread of their own (the call blocks
// and runs a modal dialog, whose message loop is that thread's), so the reader can answer busy.
// The frames go through private copies of the two pipes: standard input and output point at NUL
// before quillon.dll is loaded, so nothing a loaded DLL reads or prints can touch the framing.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/guarded_loading_win32.h"
#include "foundation/module_folder_win32.h"
#include "quillon.h"
#include "quillon_build_config.h"
#include "session.h"

namespace {

using quillon::bridge::Holder;
using quillon::bridge::Job;
using quillon::bridge::Session;

typedef int(__cdecl* ProcessWebMessageFn)(const char*, const char*, char*);

const char kUsage[] =
    "usage: quillon_bridge [--help] [--parent-window=HANDLE] [ORIGIN [EXTENSION-ID]]\n";

int Help() {
    std::printf(
        "quillon_bridge %s: the native-messaging host of the Quillon browser extension.\n"
        "The browser starts it and sends messages on its standard input, each a 4-byte\n"
        "little-endian length and a UTF-8 JSON object; answers go to its standard output the\n"
        "same way. It loads quillon.dll from its own folder and runs one request at a time\n"
        "on the whole PC, answering at once that it runs, then with the reply:\n"
        "  {\"id\":1,\"request\":\"[ENROLL][1][0]\",\"origin\":\"https://counter.bank.test\"}\n"
        "    -> {\"id\":1,\"running\":true}, then "
        "{\"id\":1,\"code\":0,\"reply\":\"[ENROLL][0][...][123]\"}\n"
        "  {\"id\":2,\"cmd\":\"version\"}  -> "
        "{\"id\":2,\"bridge\":\"%s\",\"dll\":\"...\"}\n"
        "A request while one runs (here or in another bridge) is answered at once with code\n"
        "-1008 and heldBy. Messages longer than %u bytes and malformed ones get\n"
        "{\"id\":...,\"error\":\"...\",\"errorCode\":\"...\"}. It ends when its input does.\n"
        "\n%s"
        "\nOptions:\n"
        "  --help                 this text\n"
        "  --parent-window=HANDLE the browser's window (given by the browser; not used)\n"
        "  ORIGIN, EXTENSION-ID   the caller, as the browser names it (not used)\n"
        "\nExample, as the browser runs it:\n"
        "  quillon_bridge.exe chrome-extension://ID/\n",
        QUILLON_VERSION_TEXT, QUILLON_VERSION_TEXT,
        static_cast<unsigned>(quillon::bridge::kMessageMax), kUsage);
    return 0;
}

int BadUsage(const std::string& what) {
    std::fprintf(stderr, "quillon_bridge: %s\n%s", what.c_str(), kUsage);
    return 2;
}

// The library's version from its version resource: "major.minor.patch", or empty.
std::string LibraryVersion(HMODULE library) {
    unsigned parts[4];
    if (!quillon::ModuleFileVersion(library, parts)) return std::string();
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
           std::to_string(parts[2]);
}

// A private copy of the standard handle `which` for the frames; the handle itself and the C
// runtime's descriptor `fd` then lead to NUL.
HANDLE KeepPrivate(DWORD which, int fd) {
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(which), GetCurrentProcess(), &copy, 0,
                         FALSE, DUPLICATE_SAME_ACCESS)) {
        return GetStdHandle(which);
    }
    const int nul = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
    if (nul >= 0) {
        _dup2(nul, fd);  // closes the descriptor's own handle on the pipe
        _close(nul);
    }
    SetStdHandle(which, reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
    return copy;
}

class FrameOut : public quillon::bridge::IFrameOut {
  public:
    explicit FrameOut(HANDLE pipe) : handle_(pipe) { InitializeCriticalSection(&lock_); }
    ~FrameOut() override { DeleteCriticalSection(&lock_); }
    // Both threads write: one frame at a time, whole.
    void Write(const std::string& frame) override {
        EnterCriticalSection(&lock_);
        size_t at = 0;
        while (at < frame.size()) {
            DWORD written = 0;
            if (!WriteFile(handle_, frame.data() + at, static_cast<DWORD>(frame.size() - at),
                           &written, nullptr) ||
                written == 0) {
                break;  // the browser has gone; the input's end follows
            }
            at += written;
        }
        FlushFileBuffers(handle_);
        LeaveCriticalSection(&lock_);
    }

  private:
    HANDLE handle_;
    CRITICAL_SECTION lock_;
};

// The machine's one call: a named mutex every bridge process opens (one left behind by a bridge
// that was killed is abandoned, and the next one takes it), and beside it a small mapping where
// the holder names its call. Global names reach the bridges of every session; where they cannot
// be made (another user's object, a missing privilege), the session's own. Any user's bridge may
// wait on the mutex and read and write the record.
class MachineLock : public quillon::bridge::ICallLock {
  public:
    MachineLock() {
        SECURITY_ATTRIBUTES shared{sizeof shared, nullptr, FALSE};
        ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100007;;;AU)", SDDL_REVISION_1,
            &shared.lpSecurityDescriptor, nullptr);
        // Only the rights every bridge holds, so one made by another user opens too.
        const DWORD mutexRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;
        const DWORD recordRights = FILE_MAP_READ | FILE_MAP_WRITE;
        for (const std::string scope : {"Global\\", "Local\\"}) {
            if (mutex_ == nullptr) {
                mutex_ = CreateMutexExA(&shared, (scope + kName).c_str(), 0, mutexRights);
            }
            if (record_ != nullptr) continue;
            const std::string name = scope + kName + "Holder";
            HANDLE mapping = OpenFileMappingA(recordRights, FALSE, name.c_str());
            if (mapping == nullptr) {
                mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &shared, PAGE_READWRITE, 0,
                                             sizeof(quillon::bridge::SharedHolder), name.c_str());
            }
            if (mapping != nullptr) {
                record_ = static_cast<quillon::bridge::SharedHolder*>(
                    MapViewOfFile(mapping, recordRights, 0, 0, 0));
            }
        }
        LocalFree(shared.lpSecurityDescriptor);
    }

    bool TryTake(const Holder& mine, Holder& other) override {
        if (mutex_ == nullptr) return true;  // no other bridge can be told apart: run
        const DWORD taken = WaitForSingleObject(mutex_, 0);
        if (taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED) {
            if (record_ != nullptr) quillon::bridge::Publish(*record_, mine);
            return true;
        }
        if (record_ == nullptr || !quillon::bridge::Peek(*record_, other)) other = Holder();
        return false;
    }
    void Give() override {
        if (mutex_ == nullptr) return;
        if (record_ != nullptr) quillon::bridge::Publish(*record_, Holder());
        ReleaseMutex(mutex_);
    }

  private:
    static constexpr const char* kName = "QuillonBridgeCall";
    HANDLE mutex_ = nullptr;
    quillon::bridge::SharedHolder* record_ = nullptr;
};

// The one thread that calls the library. The session's busy flag lets at most one job in.
class CallThread : public quillon::bridge::ICallThread {
  public:
    explicit CallThread(ProcessWebMessageFn call) : call_(call) {
        InitializeCriticalSection(&lock_);
        wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    ~CallThread() override {
        CloseHandle(wake_);
        DeleteCriticalSection(&lock_);
    }

    void Run(Session& session) {
        session_ = &session;
        thread_ = CreateThread(nullptr, 0, &CallThread::Main, this, 0, nullptr);
    }
    void Start(Job job) override {
        EnterCriticalSection(&lock_);
        job_ = std::move(job);
        pending_ = true;
        LeaveCriticalSection(&lock_);
        SetEvent(wake_);
    }
    // Lets a running call end and its reply go out, then ends the thread.
    void Stop() {
        EnterCriticalSection(&lock_);
        stopping_ = true;
        LeaveCriticalSection(&lock_);
        SetEvent(wake_);
        if (thread_ != nullptr) {
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        }
    }

  private:
    static DWORD WINAPI Main(LPVOID self) {
        static_cast<CallThread*>(self)->Loop();
        return 0;
    }
    void Loop() {
        for (;;) {
            WaitForSingleObject(wake_, INFINITE);
            EnterCriticalSection(&lock_);
            const bool run = pending_;
            const bool stop = stopping_;
            Job job = std::move(job_);
            pending_ = false;
            LeaveCriticalSection(&lock_);
            if (run && session_->Begin(job)) Call(job);
            if (stop) return;
        }
    }
    void Call(const Job& job) {
        // The host's buffer, zeroed, with room for the longest reply of any request.
        static char reply[QUILLON_REPLY_MAX];
        std::memset(reply, 0, sizeof reply);
        const int code = call_(QUILLON_ACCESS_CODE_TEXT, job.request.c_str(), reply);
        reply[sizeof reply - 1] = '\0';
        session_->Finish(job.id, code, reply);
    }

    ProcessWebMessageFn call_;
    Session* session_ = nullptr;
    HANDLE thread_ = nullptr;
    HANDLE wake_;
    CRITICAL_SECTION lock_;
    Job job_;
    bool pending_ = false;
    bool stopping_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    quillon::SearchDllsInSystemFolderOnly();
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") return Help();
        if (arg.compare(0, 16, "--parent-window=") == 0) continue;
        if (arg.compare(0, 2, "--") == 0) return BadUsage("unknown option " + arg);
        if (++positional > 2) return BadUsage("too many arguments");
    }
    const HANDLE input = KeepPrivate(STD_INPUT_HANDLE, 0);
    const HANDLE output = KeepPrivate(STD_OUTPUT_HANDLE, 1);

    // Only the copy beside the bridge: never one found on PATH or in the current directory.
    const std::string path = quillon::OwnModuleFolder() + "quillon.dll";
    HMODULE library = quillon::LoadByFullPathImportsFromSystem(path);
    ProcessWebMessageFn call = nullptr;
    if (library != nullptr) {
        call = reinterpret_cast<ProcessWebMessageFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "ProcessWebMessage")));
    }
    quillon::bridge::Versions versions{QUILLON_VERSION_TEXT, std::string()};
    if (call != nullptr) {
        versions.library = LibraryVersion(library);
        if (versions.library.empty()) versions.library = "unknown";
    } else {
        std::fprintf(stderr, "quillon_bridge: cannot load quillon.dll from the bridge's folder\n");
    }

    FrameOut out(output);
    CallThread calls(call);
    MachineLock lock;
    Session session(out, calls, lock, versions);
    calls.Run(session);

    static char chunk[65536];
    DWORD got = 0;
    while (ReadFile(input, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        session.Receive(chunk, got);
    }
    calls.Stop();
    return 0;
}
