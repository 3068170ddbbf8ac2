// quillon_doctor.exe: run at the counter PC, prints one line per check (OK, WARN or FAIL) and,
// for every line that is not OK, what to do. Checks first that only administrators may change its
// folder (a distribution tool runs it as SYSTEM: it loads nothing from a folder a user could
// plant a DLL in), loads quillon.dll from there and checks it is of the doctor's release, works
// out the library's choices with the library's own routines (linked in, not asked of the DLL,
// whose one way in stays ProcessWebMessage), reads the browsers' registrations of the bridge,
// opens the port the library picks and sends the status query through ProcessWebMessage. Each
// step that waits on a device runs under a watchdog, so a silent line or a hung reader library
// cannot stop it.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "doctor_checks.h"
#include "foundation/guarded_loading_win32.h"
#include "foundation/module_folder_win32.h"
#include "install_facts_win32.h"
#include "library_choices_win32.h"
#include "quillon_build_config.h"

namespace {

using quillon::doctor::Finding;

const char kUsage[] = "usage: quillon_doctor [--port N] [--wait SECONDS] [--help]\n";
const char kHelp[] =
    "quillon_doctor: checks this PC for quillon.dll, line by line.\n"
    "\n"
    "Loads quillon.dll from the doctor's own folder and reports, each as OK, WARN or FAIL with\n"
    "what to do: whether anyone but administrators and SYSTEM may change that folder (then it\n"
    "stops there); the library's version (it must be the doctor's own) and folder; the settings\n"
    "file the library would use and any value it would not read as written; the COM port it\n"
    "would take for port 0 and why, whether that opens and whether the terminal answers the\n"
    "status query sent through the library (with its customer name and the time it took);\n"
    "whether OrvMyKad.dll is found where the library looks and complete, and its version; the\n"
    "file log; a user's registration of the browsers' quillon.bridge host that points\n"
    "elsewhere than the machine's.\n"
    "Exit status 0 when nothing failed, 1 otherwise, 2 for a wrong command line.\n"
    "\n"
    "Options:\n"
    "  --port N        check COM port N instead of the one the library picks for port 0\n"
    "  --wait SECONDS  longest wait for any one check (default 30)\n"
    "  --help          this text\n"
    "\n"
    "Example (in the folder that holds quillon.dll, as the host program runs there):\n"
    "  quillon_doctor.exe\n";

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
    quillon::SearchDllsInSystemFolderOnly();
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
    const std::string folder = quillon::OwnModuleFolder();
    findings.push_back(quillon::doctor::FolderCheck(quillon::doctor::ReadFolderFacts(folder)));
    Print(findings.back());
    if (findings.back().level == quillon::doctor::Level::kFail) return 1;

    quillon::doctor::LibraryFacts facts;
    facts.path = folder + "quillon.dll";
    facts.bits = static_cast<int>(sizeof(void*) * 8);
    // By full path: a quillon.dll elsewhere on the search path is not the one being checked.
    HMODULE library = quillon::LoadByFullPathImportsFromSystem(facts.path);
    ProcessFn process = nullptr;
    unsigned version[4];
    if (library == nullptr) {
        facts.loadError = GetLastError();
    } else {
        process = reinterpret_cast<ProcessFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "ProcessWebMessage")));
        facts.hasEntry = process != nullptr;
        if (quillon::ModuleFileVersion(library, version)) {
            facts.version =
                quillon::doctor::VersionText(version[0], version[1], version[2], version[3]);
        }
    }
    findings.push_back(quillon::doctor::LibraryCheck(facts, QUILLON_VERSION_TEXT));
    Print(findings.back());
    if (findings.back().level != quillon::doctor::Level::kOk) return 1;

    quillon::doctor::Choices choices;
    auto choicesJob = [&] { choices = quillon::doctor::WorkOutChoices(folder); };
    if (!Bounded(waitSeconds, choicesJob)) {
        GiveUp({quillon::doctor::Level::kFail, "card reader",
                "OrvMyKad.dll did not answer within " + std::to_string(waitSeconds) +
                    " s (the doctor stopped waiting for its version call)",
                "check the MyKad reader's cable, or take OrvMyKad.dll away and run the doctor "
                "again to see the rest"});
    }
    for (const Finding& f : quillon::doctor::ChoiceChecks(choices, portGiven)) {
        Print(f);
        findings.push_back(f);
    }
    findings.push_back(quillon::doctor::BrowserHostCheck(quillon::doctor::ReadHostRegistrations()));
    Print(findings.back());

    const int port = quillon::doctor::PortToCheck(choices, portGiven);
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
