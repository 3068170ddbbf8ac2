// quillon_benchmark: how much time quillon.dll adds to each command beyond what the serial line
// and the library's mandated waits take. Loads quillon.dll from its own directory, runs every
// terminal command and a MyKad read many times in this one process against the terminal simulator
// (paced at the line's baud rate in both directions, answering at once) and prints, per command,
// the median and 90th percentile of ProcessWebMessage's wall time, the ideal time, the overhead
// and the ratio. Also: LoadLibrary to the end of the first [GETBRANCHCODE], wine's own cost of a
// bare dialog and of a bare port open and close, and the process's peak working set.
//
//   quillon_benchmark [--runs N] [--port N] [--part terminal|mykad]
//
// --part terminal (the default) runs the terminal commands and wine's own costs; --part mykad
// runs the MyKad read alone, in a process of its own (a MyKad read after a terminal command in
// the same process does not finish under wine at present; see docs/performance.md).
//
// Settings come from .\QUILLON.ini as the library reads them: [APDU] DELAY_AFTER_FIRSTCALL
// (default 500 ms) and [COMPORT] BAUDRATE (default 115200). The ideal time assumes the
// simulator's default answers; scripts/benchmark.sh sets everything up.
#include <windows.h>
// After windows.h, which they need.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "quillon_build_config.h"

namespace {

using ProcessWebMessageFn = int(__cdecl*)(const char*, const char*, char*);

const char kAccessCode[] = QUILLON_ACCESS_CODE_TEXT;
// Large enough for every reply here (the longest is an enrolment, 1196 hexadecimal digits).
const size_t kReplySize = 1 << 16;

// ---- time ----

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Stats {
    double median = 0;
    double p90 = 0;
};

Stats Summarise(std::vector<double> samples) {
    Stats s;
    if (samples.empty()) return s;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    s.median = n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    // Nearest rank.
    size_t rank = (9 * n + 9) / 10;
    s.p90 = samples[(rank > 0 ? rank : 1) - 1];
    return s;
}

// ---- wire sizes ----

// A frame's L bytes (code and data) padded to whole 8-byte blocks; a full block of padding when
// L is already a multiple of 8.
int Padded(int length) { return length + 8 - length % 8; }
// STX, length, padded payload, two scramble bytes, key flag, checksum, ETX.
int OutboundWire(int length) { return Padded(length) + 8; }
// STX, length, padded payload, checksum, ETX.
int InboundWire(int length) { return Padded(length) + 5; }

// What one command puts on the line and waits for, with the benchmark's settings.
struct Ideal {
    int wireBytes = 0;       // both directions
    int replyBursts = 0;     // replies awaited: each ends with the 2 ms wait after its last event
    int mandatedWaitMs = 0;  // DELAY_AFTER_FIRSTCALL where the command runs the status query
    int dialogs = 0;

    void Exchange(int outLength, std::initializer_list<int> inLengths) {
        wireBytes += OutboundWire(outLength);
        for (int length : inLengths) wireBytes += InboundWire(length);
        if (inLengths.size() > 0) ++replyBursts;
        ++dialogs;
    }
    double Ms(int baud) const {
        return wireBytes * 10000.0 / baud + 2.0 * replyBursts + mandatedWaitMs;
    }
};

// ---- the library ----

class Library {
  public:
    bool Load(double* loadToFirstReplyMs) {
        const double start = NowMs();
        module_ = LoadLibraryA("quillon.dll");
        if (module_ == nullptr) return false;
        call_ = reinterpret_cast<ProcessWebMessageFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "ProcessWebMessage")));
        if (call_ == nullptr) return false;
        Call("[GETBRANCHCODE]");
        *loadToFirstReplyMs = NowMs() - start;
        return true;
    }

    // Returns the result code; the reply text stays in Reply().
    int Call(const std::string& request, double* ms = nullptr) {
        std::memset(reply_.data(), 0, reply_.size());
        const double start = NowMs();
        const int result = call_(kAccessCode, request.c_str(), reply_.data());
        if (ms != nullptr) *ms = NowMs() - start;
        return result;
    }
    const char* Reply() const { return reply_.data(); }

  private:
    HMODULE module_ = nullptr;
    ProcessWebMessageFn call_ = nullptr;
    std::vector<char> reply_ = std::vector<char>(kReplySize);
};

// Field `index` (1-based) of a bracketed reply, or "" when it has fewer fields.
std::string Field(const char* reply, int index) {
    const char* p = reply;
    for (int i = 0; i < index; ++i) {
        p = std::strchr(p, '[');
        if (p == nullptr) return std::string();
        ++p;
    }
    const char* end = std::strchr(p, ']');
    return end == nullptr ? std::string() : std::string(p, end);
}

// ---- wine's own costs ----

INT_PTR CALLBACK EndAtOnce(HWND hwnd, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        EndDialog(hwnd, IDOK);
        return TRUE;
    }
    return FALSE;
}

// A modal dialog with no controls that ends as soon as it is initialised: what wine takes to
// create, run and destroy a modal dialog at all.
double BareDialogMs() {
    alignas(4) static WORD buffer[32] = {};
    DLGTEMPLATE* t = reinterpret_cast<DLGTEMPLATE*>(buffer);
    t->style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER;
    t->cx = 160;
    t->cy = 89;
    // Menu, class and title: the words after the header stay zero.
    const double start = NowMs();
    DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t, nullptr, EndAtOnce, 0);
    return NowMs() - start;
}

// Opening, configuring and closing the COM port as the library does, with nothing else.
double BarePortMs(int port) {
    char device[32];
    std::snprintf(device, sizeof device, "\\\\.\\COM%d", port);
    const double start = NowMs();
    HANDLE h = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    COMMTIMEOUTS timeouts = {10000, 10000, 10000, 10000, 10000};
    SetCommTimeouts(h, &timeouts);
    SetCommMask(h, EV_RXCHAR | EV_CTS);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    BuildCommDCBA("baud=115200 parity=N data=8 stop=1", &dcb);
    SetCommState(h, &dcb);
    PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    CloseHandle(h);
    return NowMs() - start;
}

struct WaitingThread {
    HANDLE port;
    HANDLE stop;
};

DWORD WINAPI WaitForEventsOrStop(LPVOID param) {
    WaitingThread* w = static_cast<WaitingThread*>(param);
    OVERLAPPED overlap = {};
    overlap.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD mask = 0;
    WaitCommEvent(w->port, &mask, &overlap);
    HANDLE events[2] = {w->stop, overlap.hEvent};
    WaitForMultipleObjects(2, events, FALSE, INFINITE);
    CloseHandle(overlap.hEvent);
    return 0;
}

// The same port with a thread waiting for a comm event, ended the way the library ends it
// (clear the mask, close the handle, signal, wait for the thread).
double BarePortWithWaitingThreadMs(int port) {
    char device[32];
    std::snprintf(device, sizeof device, "\\\\.\\COM%d", port);
    const double start = NowMs();
    HANDLE h = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    SetCommMask(h, EV_RXCHAR | EV_CTS);
    WaitingThread w = {h, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, WaitForEventsOrStop, &w, 0, nullptr);
    Sleep(0);
    SetCommMask(h, 0);
    CloseHandle(h);
    SetEvent(w.stop);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(w.stop);
    return NowMs() - start;
}

template <typename F>
Stats Repeat(int runs, F f) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) samples.push_back(f());
    return Summarise(samples);
}

// ---- the commands ----

struct Command {
    std::string name;
    std::string request;
    Ideal ideal;
    bool terminal = true;
};

struct Row {
    std::string name;
    Stats stats;
    double idealMs = 0;
    int dialogs = 0;
    bool terminal = true;
    int failures = 0;
    int lastResult = 0;
};

void PrintRow(const Row& r) {
    const double overhead = r.stats.median - r.idealMs;
    const double allowed = 3.0 * r.dialogs + 0.02 * r.idealMs;
    const double ratio = r.idealMs > 0 ? r.stats.median / r.idealMs : 0;
    char ratioText[16] = "-";
    if (r.idealMs > 0) std::snprintf(ratioText, sizeof ratioText, "%.3f", ratio);
    std::printf("%-19s %3d %8.1f %8.1f %8.1f %8.1f %7s %7.1f  %-4s%s\n", r.name.c_str(), r.dialogs,
                r.stats.median, r.stats.p90, r.idealMs, overhead, ratioText, allowed,
                !r.terminal ? "-" : (overhead <= allowed ? "yes" : "NO"),
                r.failures > 0 ? (" (" + std::to_string(r.failures) + " runs failed, last result " +
                                  std::to_string(r.lastResult) + ")")
                                     .c_str()
                               : "");
}

std::string IniPath() {
    char path[MAX_PATH];
    GetFullPathNameA("QUILLON.ini", sizeof path, path, nullptr);
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 20;
    int port = 7;
    bool mykad = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (arg == "--port" && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else if (arg == "--part" && i + 1 < argc) {
            mykad = std::string(argv[++i]) == "mykad";
        } else {
            std::fprintf(
                stderr, "usage: quillon_benchmark [--runs N] [--port N] [--part terminal|mykad]\n");
            return 2;
        }
    }
    if (runs < 1) runs = 1;

    const std::string ini = IniPath();
    const int delay =
        static_cast<int>(GetPrivateProfileIntA("APDU", "DELAY_AFTER_FIRSTCALL", 500, ini.c_str()));
    char baudText[51] = {};
    GetPrivateProfileStringA("COMPORT", "BAUDRATE", "115200", baudText, sizeof baudText,
                             ini.c_str());
    const int baud = std::atoi(baudText) > 0 ? std::atoi(baudText) : 115200;

    PROCESS_MEMORY_COUNTERS before = {};
    before.cb = sizeof before;
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);

    Library lib;
    double loadMs = 0;
    if (!lib.Load(&loadMs)) {
        std::fprintf(stderr, "quillon.dll or ProcessWebMessage not found (error %lu)\n",
                     GetLastError());
        return 1;
    }

    const std::string portText = std::to_string(port);
    std::vector<Command> commands;
    if (mykad) {
        // The stand-in reader answers at once with the card in place at the first poll: no wire
        // and no mandated wait.
        Command c{"READMYKAD", "[READMYKAD][0][0][COUNTER-07][A1][T-000123]", {}, false};
        c.ideal.dialogs = 1;
        commands.push_back(c);
    } else {
        // The status query's answer depends on the customer name; learn it (and warm up).
        if (lib.Call("[GETFIRMWAREVERSION][0][" + portText + "]") != 0) {
            std::fprintf(stderr, "no terminal on COM%d: %s\n", port, lib.Reply());
            return 1;
        }
        const int nameLength = static_cast<int>(Field(lib.Reply(), 3).size());
        lib.Call("[GETSERIALNUMBER][0][" + portText + "]");
        const int serialLength = static_cast<int>(Field(lib.Reply(), 3).size());
        lib.Call("[GETSIGNATURE][0][" + portText + "]");
        const int signatureLength = static_cast<int>(Field(lib.Reply(), 3).size() / 2);
        lib.Call("[ENROLL][0][" + portText + "]");
        const std::string templ = Field(lib.Reply(), 3);
        const int templateLength = static_cast<int>(templ.size() / 2);
        if (templateLength == 0) {
            std::fprintf(stderr, "enrolment failed: %s\n", lib.Reply());
            return 1;
        }

        // Status query: 0x23 out; 0x23, status, k, name, 16 identity and 16 key bytes back.
        auto status = [&](Ideal& i) { i.Exchange(1, {35 + nameLength}); };
        {
            Command c{"GETFIRMWAREVERSION", "[GETFIRMWAREVERSION][0][" + portText + "]", {}};
            status(c.ideal);
            commands.push_back(c);
        }
        {
            Command c{"GETSERIALNUMBER", "[GETSERIALNUMBER][0][" + portText + "]", {}};
            status(c.ideal);
            c.ideal.mandatedWaitMs = delay;
            c.ideal.Exchange(1, {4 + serialLength});
            commands.push_back(c);
        }
        {
            // The clock frame goes out; its answer is not awaited.
            Command c{"SETDATETIME", "[SETDATETIME][" + portText + "][260314093000]", {}};
            c.ideal.Exchange(15, {});
            commands.push_back(c);
        }
        {
            Command c{"GETSIGNATURE", "[GETSIGNATURE][0][" + portText + "]", {}};
            c.ideal.Exchange(6, {7 + signatureLength});
            commands.push_back(c);
        }
        {
            // Three finger events, then the template.
            Command c{"ENROLL", "[ENROLL][0][" + portText + "]", {}};
            status(c.ideal);
            c.ideal.mandatedWaitMs = delay;
            c.ideal.Exchange(22, {4, 4, 4, 4 + templateLength});
            commands.push_back(c);
        }
        {
            // Two events (finger, match), then the result.
            Command c{"VERIFY", "[VERIFY][0][" + portText + "][" + templ + "]", {}};
            status(c.ideal);
            c.ideal.mandatedWaitMs = delay;
            c.ideal.Exchange(templateLength + 8, {4, 4, 2});
            commands.push_back(c);
        }
        {
            Command c{"VERIFY2F", "[VERIFY2F][0][" + portText + "][" + templ + templ + "]", {}};
            status(c.ideal);
            c.ideal.mandatedWaitMs = delay;
            c.ideal.Exchange(2 * templateLength + 8, {4, 4, 2});
            commands.push_back(c);
        }
    }

    std::vector<Row> rows;
    for (const Command& c : commands) {
        Row row;
        row.name = c.name;
        row.idealMs = c.ideal.Ms(baud);
        row.dialogs = c.ideal.dialogs;
        row.terminal = c.terminal;
        std::vector<double> samples;
        std::fprintf(stderr, "%s ...\n", c.name.c_str());
        lib.Call(c.request);  // warm-up, not counted
        for (int i = 0; i < runs; ++i) {
            double ms = 0;
            const int result = lib.Call(c.request, &ms);
            samples.push_back(ms);
            if (result != 0) {
                ++row.failures;
                row.lastResult = result;
            }
        }
        row.stats = Summarise(samples);
        rows.push_back(row);
    }

    Stats dialog, bare, waiting;
    if (!mykad) {
        std::fprintf(stderr, "wine alone ...\n");
        dialog = Repeat(runs, BareDialogMs);
        bare = Repeat(runs, [port] { return BarePortMs(port); });
        waiting = Repeat(runs, [port] { return BarePortWithWaitingThreadMs(port); });
    }

    PROCESS_MEMORY_COUNTERS after = {};
    after.cb = sizeof after;
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);

    std::printf("baud %d, DELAY_AFTER_FIRSTCALL %d ms, %d runs per command (times in ms)\n", baud,
                delay, runs);
    std::printf("%-19s %3s %8s %8s %8s %8s %7s %7s  %s\n", "command", "dlg", "median", "p90",
                "ideal", "overhead", "ratio", "allowed", "meets");
    for (const Row& r : rows) PrintRow(r);
    std::printf("\nLoadLibrary to the end of the first [GETBRANCHCODE]: %.1f ms\n", loadMs);
    if (!mykad) {
        std::printf(
            "wine alone, median (p90): bare modal dialog %.1f (%.1f); port open, configure "
            "and close %.1f (%.1f); the same with a thread waiting for a comm event %.1f "
            "(%.1f)\n",
            dialog.median, dialog.p90, bare.median, bare.p90, waiting.median, waiting.p90);
    }
    std::printf("peak working set %.1f MiB (%.1f MiB before LoadLibrary, %.1f MiB at the end)\n",
                after.PeakWorkingSetSize / 1048576.0, before.WorkingSetSize / 1048576.0,
                after.WorkingSetSize / 1048576.0);
    return 0;
}
