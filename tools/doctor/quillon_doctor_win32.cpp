// quillon_doctor.exe: run at the counter PC, prints one line per check (OK, WARN or FAIL) and,
// for every line that is not OK, what to do. Loads quillon.dll from its own folder, asks it to
// describe itself, opens the port it picks and sends the library's own status query. Each step
// runs under a watchdog, so a silent line or a hung reader library cannot stop it.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "doctor_checks.h"
#include "foundation/module_folder_win32.h"
#include "quillon_build_config.h"

namespace {

using quillon::doctor::Finding;

const char kUsage[] = "usage: quillon_doctor [--port N] [--wait SECONDS] [--help]\n";
const char kHelp[] =
    "quillon_doctor: checks this PC for quillon.dll, line by line.\n"
    "\n"
    "Loads quillon.dll from the doctor's own folder and reports, each as OK, WARN or FAIL with\n"
    "what to do: the library's version and folder; the settings file in use and any value that\n"
    "does not read as written; the COM port taken for port 0 and why, whether it opens and\n"
    "whether the terminal answers the status query (with its customer name and the time it\n"
    "took); whether OrvMyKad.dll is found and complete, and its version; the file log.\n"
    "Exit status 0 when nothing failed, 1 otherwise, 2 for a wrong command line.\n"
    "\n"
    "Options:\n"
    "  --port N        check COM port N instead of the one the library picks for port 0\n"
    "  --wait SECONDS  longest wait for any one check (default 30)\n"
    "  --help          this text\n"
    "\n"
    "Example (in the folder that holds quillon.dll, as the host program runs there):\n"
    "  quillon_doctor.exe\n";

using DescribeFn = int(__cdecl*)(char*, int);
using ProcessFn = int(__cdecl*)(const char*, const char*, char*);

int BadArguments(const char* message) {
    std::fprintf(stderr, "quillon_doctor: %s\n%s", message, kUsage);
    return 2;
}

void Print(const Finding& finding) {
    std::fputs(quillon::doctor::FormatFinding(finding).c_str(), stdout);
    std::fflush(stdout);
}

// Runs `job` on a thread of its own; false when it has not ended within `seconds`.
template <typename Job>
bool Bounded(int seconds, Job& job) {
    struct Start {
        static DWORD WINAPI Run(LPVOID p) {
            (*static_cast<Job*>(p))();
            return 0;
        }
    };
    HANDLE thread = CreateThread(nullptr, 0, &Start::Run, &job, 0, nullptr);
    if (thread == nullptr) {
        job();
        return true;
    }
    const bool ended =
        WaitForSingleObject(thread, static_cast<DWORD>(seconds) * 1000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

// A check that did not end: say which and leave at once (the stuck thread is inside the library,
// so an orderly unload could wait for it forever).
[[noreturn]] void GiveUp(const Finding& finding) {
    Print(finding);
    TerminateProcess(GetCurrentProcess(), 1);
    ExitProcess(1);
}

}  // namespace

int main(int argc, char** argv) {
    int portGiven = 0;
    int waitSeconds = 30;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--port" || arg == "--wait") {
            if (i + 1 >= argc) return BadArguments((arg + " needs a number").c_str());
            const int value = std::atoi(argv[++i]);
            if (value <= 0) return BadArguments((arg + " needs a number above 0").c_str());
            (arg == "--port" ? portGiven : waitSeconds) = value;
        } else {
            return BadArguments(("unknown option " + arg).c_str());
        }
    }

    std::vector<Finding> findings;
    const std::string dll = quillon::OwnModuleFolder() + "quillon.dll";
    HMODULE library = LoadLibraryExA(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    DescribeFn describe = nullptr;
    ProcessFn process = nullptr;
    if (library != nullptr) {
        describe = reinterpret_cast<DescribeFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "QuillonDescribe")));
        process = reinterpret_cast<ProcessFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "ProcessWebMessage")));
    }
    if (describe == nullptr || process == nullptr) {
        Print({quillon::doctor::Level::kFail, "library",
               library == nullptr
                   ? dll + " does not load (error " + std::to_string(GetLastError()) + ")"
                   : dll + " has no QuillonDescribe: it is older than the doctor",
               "put quillon_doctor.exe beside quillon.dll of the same release"});
        return 1;
    }

    std::string text;
    auto describeJob = [&] {
        std::vector<char> buffer(16384);
        int needed = describe(buffer.data(), static_cast<int>(buffer.size()));
        if (needed >= static_cast<int>(buffer.size())) {
            buffer.assign(static_cast<size_t>(needed) + 1, '\0');
            needed = describe(buffer.data(), static_cast<int>(buffer.size()));
        }
        text = buffer.data();
    };
    if (!Bounded(waitSeconds, describeJob)) {
        GiveUp({quillon::doctor::Level::kFail, "library",
                "QuillonDescribe did not end within " + std::to_string(waitSeconds) +
                    " s (it waits for OrvMyKad.dll's version call)",
                "check the MyKad reader's cable, or take OrvMyKad.dll away and run the doctor "
                "again to see the rest"});
    }
    const quillon::doctor::Description description(text);
    for (const Finding& f : quillon::doctor::DescriptionChecks(description, portGiven)) {
        Print(f);
        findings.push_back(f);
    }
    if (description.Get("busy") == "yes") return quillon::doctor::ExitCode(findings);

    const int port = quillon::doctor::PortToCheck(description, portGiven);
    bool opened = false;
    DWORD error = 0;
    auto openJob = [&] {
        const std::string name = "\\\\.\\COM" + std::to_string(port);
        HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        opened = handle != INVALID_HANDLE_VALUE;
        error = opened ? 0 : GetLastError();
        if (opened) CloseHandle(handle);
    };
    if (!Bounded(waitSeconds, openJob)) {
        GiveUp({quillon::doctor::Level::kFail, "port open",
                "COM" + std::to_string(port) + " did not open within " +
                    std::to_string(waitSeconds) + " s",
                "unplug and plug in the terminal's cable, then run the doctor again"});
    }
    findings.push_back(quillon::doctor::PortOpenCheck(port, opened, error));
    Print(findings.back());

    if (opened) {
        quillon::doctor::StatusAnswer answer;
        auto statusJob = [&] {
            const std::string request = "[GETFIRMWAREVERSION][0][" + std::to_string(port) + "]";
            std::vector<char> reply(8192, '\0');
            const auto start = std::chrono::steady_clock::now();
            answer.result = process(QUILLON_ACCESS_CODE_TEXT, request.c_str(), reply.data());
            answer.seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            reply.back() = '\0';
            answer.reply = reply.data();
            answer.finished = true;
        };
        if (!Bounded(waitSeconds, statusJob)) {
            GiveUp(quillon::doctor::StatusCheck(port, answer, waitSeconds));
        }
        findings.push_back(quillon::doctor::StatusCheck(port, answer, waitSeconds));
        Print(findings.back());
    }
    return quillon::doctor::ExitCode(findings);
}
