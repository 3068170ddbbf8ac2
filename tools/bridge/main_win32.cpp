// quillon_bridge: the native-messaging host between a browser extension and quillon.dll. The
// browser starts it and talks over the standard input and output; the Session decides, this file
// reads, writes, loads the library and runs its calls on a thread of their own (the call blocks
// and runs a modal dialog, whose message loop is that thread's), so the reader can answer busy.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/module_folder_win32.h"
#include "quillon.h"
#include "quillon_build_config.h"
#include "session.h"

namespace {

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
        "same way. It loads quillon.dll from its own folder and runs one request at a time:\n"
        "  {\"id\":1,\"request\":\"[ENROLL][1][0]\"}  -> "
        "{\"id\":1,\"code\":0,\"reply\":\"[ENROLL][0][...][123]\"}\n"
        "  {\"id\":2,\"cmd\":\"version\"}            -> "
        "{\"id\":2,\"bridge\":\"%s\",\"dll\":\"...\"}\n"
        "A request while one runs is answered at once with code -1008. Messages longer than\n"
        "%u bytes and malformed ones get {\"id\":...,\"error\":\"...\"}. It ends when its input "
        "does.\n"
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

// The DLL's version from its version resource: "major.minor.patch", or empty.
std::string FileVersion(const std::string& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return std::string();
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return std::string();
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) ||
        info == nullptr || length < sizeof *info) {
        return std::string();
    }
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS));
}

class StdOut : public quillon::bridge::IFrameOut {
  public:
    StdOut() : handle_(GetStdHandle(STD_OUTPUT_HANDLE)) { InitializeCriticalSection(&lock_); }
    ~StdOut() override { DeleteCriticalSection(&lock_); }
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
            if (run) Call(job);
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
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") return Help();
        if (arg.compare(0, 16, "--parent-window=") == 0) continue;
        if (arg.compare(0, 2, "--") == 0) return BadUsage("unknown option " + arg);
        if (++positional > 2) return BadUsage("too many arguments");
    }
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);

    // Only the copy beside the bridge: never one found on PATH or in the current directory.
    const std::string path = quillon::OwnModuleFolder() + "quillon.dll";
    HMODULE library = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ProcessWebMessageFn call = nullptr;
    if (library != nullptr) {
        call = reinterpret_cast<ProcessWebMessageFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "ProcessWebMessage")));
    }
    quillon::bridge::Versions versions{QUILLON_VERSION_TEXT, std::string()};
    if (call != nullptr) {
        versions.library = FileVersion(path);
        if (versions.library.empty()) versions.library = "unknown";
    } else {
        std::fprintf(stderr, "quillon_bridge: cannot load quillon.dll from the bridge's folder\n");
    }

    StdOut out;
    CallThread calls(call);
    Session session(out, calls, versions);
    calls.Run(session);

    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    static char chunk[65536];
    DWORD got = 0;
    while (ReadFile(input, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        session.Receive(chunk, got);
    }
    calls.Stop();
    return 0;
}
