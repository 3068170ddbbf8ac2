// quillon_benchmark: how much time quillon.dll adds to each command beyond what the serial line
// and the library's mandated waits take. Loads quillon.dll from its own directory, runs every
// terminal command and a MyKad read many times in this one process against the terminal simulator
// (paced at the line's baud rate in both directions, answering at once) and prints, per command,
// the median and 90th percentile of ProcessWebMessage's wall time, the ideal time, the overhead
// and the ratio. Beside the ideal it prints a floor: the ideal plus what wine itself takes for the
// calls the library must make (its dialog template, the settings reads, a port session, frame
// writes and one-byte reads), measured here; "beyond" is what the library adds on top of that.
// Also: LoadLibrary to the end of the first [GETBRANCHCODE] and the process's peak working set.
//
//   quillon_benchmark [--runs N] [--port N] [--cable N] [--no-mykad] [--baseline DLL] [--gap MS]
//
// --gap MS leaves the process idle for MS milliseconds before every timed call and every timing
// of wine alone. Without it each call starts while wine is still ending what the call before it
// left (its comm-event worker, the monitor thread's exit), as a host calling back to back sees;
// with it, as at a counter, where calls come seconds apart.
//
// --baseline DLL names a second build of the library (another commit's quillon.dll under another
// file name): every run calls both, alternating which goes first, and the table gains the
// baseline's median and the ratio of the two; one run's ratios hold where the machine's load
// moves its times.
//
// The benchmark exports QuillonPhaseStamp: the library calls it at named moments of each dialog
// (foundation/phase_stamps.h), and a second table splits each command's time into the phases
// between them (a library without the stamps leaves that table empty).
//
// --cable N names a pair of spare ports joined like a null-modem cable: what is written to
// COM(N+1) arrives on COM N (scripts/benchmark.py joins two ptys so). On it the benchmark times
// how soon a waiting comm event sees a byte, and what reading queued bytes one at a time costs.
// Without it those costs count 0.
//
// Settings come from .\QUILLON.ini as the library reads them: [APDU] DELAY_AFTER_FIRSTCALL
// (default 500 ms) and [COMPORT] BAUDRATE (default 115200). The ideal time assumes the
// simulator's default answers; scripts/benchmark.sh sets everything up.
#include <windows.h>
// After windows.h, which they need.
#include <psapi.h>

#include <algorithm>
#include <atomic>
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

// ---- phase stamps ----

struct Stamp {
    int phase;
    double ms;
};
const int kMaxStamps = 4096;
Stamp g_stamps[kMaxStamps];
std::atomic<int> g_stampCount{0};

// Each column is the time up to a stamp from the stamp before it (the call's start before the
// first); "return" runs from the last stamp to the call's return. Summed over a call's dialogs.
const char* const kPhaseColumns[] = {"entry",  "tmpl",   "settng", "open",   "monitr",
                                     "prompt", "initok", "reply",  "handle", "close",
                                     "destry", "portcl", "dlgend", "return"};
const int kPhaseCount = 13;  // stamps 0..12; the last column is "return"

// The phases of the call that just ended, per column, from the stamps since `start`.
std::vector<double> PhaseSums(double start, double end) {
    std::vector<double> sums(kPhaseCount + 1, 0.0);
    const int n = std::min(g_stampCount.load(), kMaxStamps);
    double previous = start;
    for (int i = 0; i < n; ++i) {
        const Stamp& s = g_stamps[i];
        if (s.phase >= 0 && s.phase < kPhaseCount) sums[s.phase] += s.ms - previous;
        previous = s.ms;
    }
    sums[kPhaseCount] += end - previous;
    return sums;
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
    int outBytes = 0;
    int inBytes = 0;
    int inFrames = 0;
    int frames = 0;          // frames written
    int replyBursts = 0;     // replies awaited: each ends with the 2 ms wait after its last event
    int mandatedWaitMs = 0;  // DELAY_AFTER_FIRSTCALL where the command runs the status query
    int dialogs = 0;

    void Exchange(int outLength, std::initializer_list<int> inLengths) {
        outBytes += OutboundWire(outLength);
        ++frames;
        for (int length : inLengths) inBytes += InboundWire(length);
        inFrames += static_cast<int>(inLengths.size());
        if (inLengths.size() > 0) ++replyBursts;
        ++dialogs;
    }
    double Ms(int baud) const {
        return (outBytes + inBytes) * 10000.0 / baud + 2.0 * replyBursts + mandatedWaitMs;
    }
};

// What wine itself takes for the calls the library must make, measured in this process: the
// floor below which no implementation of the same calls can go under wine.
struct WineCosts {
    double dialogMs = 0;    // the real template 4000, created and ended at WM_INITDIALOG
    double settingsMs = 0;  // the settings reads of one terminal dialog
    double portMs = 0;      // open, configure, purge, a monitor thread in a comm wait, close
    double writeMs = 0;     // purge plus one overlapped frame write
    double readByteMs = 0;  // one queued byte read the way the monitor thread reads it
    double detectMs = 0;    // a byte arriving to a comm-event wait armed well before it
    double handOverMs = 0;  // a reply handed from a thread to a window by SendMessage

    // The ideal plus wine's costs; a byte read slower than the line delays the reply by the
    // difference, a byte read faster waits for the line.
    double FloorMs(const Ideal& i, int baud) const {
        const double byteMs = 10000.0 / baud;
        const double lag = readByteMs > byteMs ? readByteMs - byteMs : 0;
        return i.Ms(baud) + i.dialogs * (dialogMs + settingsMs + portMs) + i.frames * writeMs +
               i.replyBursts * detectMs + i.inFrames * handOverMs + i.inBytes * lag;
    }
};

// ---- the library ----

class Library {
  public:
    bool Load(const std::string& file, double* loadToFirstReplyMs) {
        const double start = NowMs();
        module_ = LoadLibraryA(file.c_str());
        if (module_ == nullptr) return false;
        call_ = reinterpret_cast<ProcessWebMessageFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "ProcessWebMessage")));
        if (call_ == nullptr) return false;
        Call("[GETBRANCHCODE]");
        *loadToFirstReplyMs = NowMs() - start;
        return true;
    }

    // Returns the result code; the reply text stays in Reply().
    // With `phases`, the stamps the call left, per phase column.
    int Call(const std::string& request, double* ms = nullptr,
             std::vector<double>* phases = nullptr) {
        std::memset(reply_.data(), 0, reply_.size());
        g_stampCount = 0;
        const double start = NowMs();
        const int result = call_(kAccessCode, request.c_str(), reply_.data());
        const double end = NowMs();
        if (ms != nullptr) *ms = end - start;
        if (phases != nullptr) *phases = PhaseSums(start, end);
        return result;
    }
    bool Loaded() const { return call_ != nullptr; }
    const char* Reply() const { return reply_.data(); }
    HMODULE Module() const { return module_; }

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

// The library's own dialog template, ended as soon as it is initialised: what wine takes to
// build, run and destroy that dialog with nothing of the library's in it.
double TemplateDialogMs(HMODULE library) {
    const double start = NowMs();
    DialogBoxParamA(library, MAKEINTRESOURCEA(4000), nullptr, EndAtOnce, 0);
    return NowMs() - start;
}

// The ten settings reads of a terminal dialog (line, device type, two time-outs, font size and
// face, cancel button, logo, two prompt lines), from the same file.
double SettingsReadsMs() {
    char text[101];
    const double start = NowMs();
    for (int i = 0; i < 5; ++i) {
        GetPrivateProfileIntA("MYKAD", "TIMEOUT", 5000, ".\\QUILLON.ini");
        GetPrivateProfileStringA("MESSAGE", "PROMPT", "-", text, sizeof text, ".\\QUILLON.ini");
    }
    return NowMs() - start;
}

HANDLE OpenPort(int port) {
    char device[32];
    std::snprintf(device, sizeof device, "\\\\.\\COM%d", port);
    return CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

const DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

struct MonitorStandIn {
    HANDLE port;
    HANDLE stop;
};

DWORD WINAPI WaitForEventsOrStop(LPVOID param) {
    MonitorStandIn* m = static_cast<MonitorStandIn*>(param);
    PurgeComm(m->port, kPurgeAll);
    OVERLAPPED overlap = {};
    overlap.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD mask = 0;
    WaitCommEvent(m->port, &mask, &overlap);
    HANDLE events[2] = {m->stop, overlap.hEvent};
    WaitForMultipleObjects(2, events, FALSE, INFINITE);
    // Leave no wait outstanding on a closed handle.
    while (!HasOverlappedIoCompleted(&overlap)) Sleep(1);
    CloseHandle(overlap.hEvent);
    return 0;
}

// One port session with nothing of the library's in it: open and configure the port as the
// library does, start a thread that waits for a comm event, then end the wait by clearing the
// mask, close the port and wait for the thread.
double PortSessionMs(int port) {
    const double start = NowMs();
    HANDLE h = OpenPort(port);
    if (h == INVALID_HANDLE_VALUE) return -1;
    COMMTIMEOUTS timeouts = {10000, 10000, 10000, 10000, 10000};
    SetCommTimeouts(h, &timeouts);
    SetCommMask(h, EV_RXCHAR | EV_CTS);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    BuildCommDCBA("baud=115200 parity=N data=8 stop=1", &dcb);
    SetCommState(h, &dcb);
    PurgeComm(h, kPurgeAll);
    MonitorStandIn m = {h, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, WaitForEventsOrStop, &m, 0, nullptr);
    Sleep(0);
    SetCommMask(h, 0);
    CloseHandle(h);
    SetEvent(m.stop);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(m.stop);
    return NowMs() - start;
}

// Both ends of the spare cable.
struct Cable {
    HANDLE in = INVALID_HANDLE_VALUE;
    HANDLE out = INVALID_HANDLE_VALUE;

    bool Open(int port) {
        in = OpenPort(port);
        out = OpenPort(port + 1);
        if (in != INVALID_HANDLE_VALUE) SetCommMask(in, EV_RXCHAR | EV_CTS);
        return in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE;
    }
    ~Cable() {
        if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
        if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    }
    void Send(const void* data, DWORD size) {
        OVERLAPPED overlap = {};
        overlap.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD written = 0;
        if (!WriteFile(out, data, size, &written, &overlap) && GetLastError() == ERROR_IO_PENDING) {
            GetOverlappedResult(out, &overlap, &written, TRUE);
        }
        CloseHandle(overlap.hEvent);
    }
    DWORD Queued() {
        DWORD errors = 0;
        COMSTAT status = {};
        ClearCommError(in, &errors, &status);
        return status.cbInQue;
    }
    // Waits until `count` bytes are queued on the receiving end (or a second has gone).
    void AwaitQueued(DWORD count) {
        const double end = NowMs() + 1000;
        while (Queued() < count && NowMs() < end) Sleep(1);
    }
};

// One byte sent into a comm-event wait that was armed 10 ms earlier, as the monitor thread's
// wait is when a reply comes: how long until the wait completes.
double DetectMs(Cable& cable) {
    PurgeComm(cable.in, kPurgeAll);
    OVERLAPPED overlap = {};
    overlap.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD mask = 0;
    double ms = -1;
    if (!WaitCommEvent(cable.in, &mask, &overlap) && GetLastError() == ERROR_IO_PENDING) {
        Sleep(10);
        const unsigned char byte = 0x55;
        const double start = NowMs();
        cable.Send(&byte, 1);
        if (WaitForSingleObject(overlap.hEvent, 1000) == WAIT_OBJECT_0) ms = NowMs() - start;
    }
    // Leave no wait outstanding.
    SetCommMask(cable.in, 0);
    while (!HasOverlappedIoCompleted(&overlap)) Sleep(1);
    SetCommMask(cable.in, EV_RXCHAR | EV_CTS);
    CloseHandle(overlap.hEvent);
    return ms;
}

// Per byte: bytes already queued on the port, read one at a time as the monitor thread reads
// them (an overlapped one-byte read, awaited when pending; the queue status once per batch).
double ReadByteMs(Cable& cable, int* count) {
    static unsigned char bytes[512];
    PurgeComm(cable.in, kPurgeAll);
    cable.Send(bytes, sizeof bytes);
    cable.AwaitQueued(sizeof bytes);
    *count = static_cast<int>(cable.Queued());
    if (*count == 0) return 0;
    OVERLAPPED overlap = {};
    overlap.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    unsigned char byte = 0;
    const double start = NowMs();
    for (int i = 0; i < *count; ++i) {
        DWORD got = 0;
        if (!ReadFile(cable.in, &byte, 1, &got, &overlap) && GetLastError() == ERROR_IO_PENDING) {
            GetOverlappedResult(cable.in, &overlap, &got, TRUE);
        }
    }
    const double ms = (NowMs() - start) / *count;
    CloseHandle(overlap.hEvent);
    return ms;
}

// Purging the port and writing one 48-byte frame (overlapped, awaited), as before every frame.
double WriteFrameMs(HANDLE h) {
    static unsigned char frame[48] = {0x02};
    OVERLAPPED overlap = {};
    overlap.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const double start = NowMs();
    PurgeComm(h, kPurgeAll);
    DWORD written = 0;
    if (!WriteFile(h, frame, sizeof frame, &written, &overlap) &&
        GetLastError() == ERROR_IO_PENDING) {
        GetOverlappedResult(h, &overlap, &written, TRUE);
    }
    const double ms = NowMs() - start;
    CloseHandle(overlap.hEvent);
    return ms;
}

// A message sent from another thread to a window of this thread while it runs a modal loop,
// as the monitor thread hands each reply to the dialog.
const UINT kHandOver = WM_APP + 1;
struct HandOver {
    HWND window;
    double ms;
};

DWORD WINAPI SendHandOver(LPVOID param) {
    HandOver* h = static_cast<HandOver*>(param);
    Sleep(5);  // let the loop settle in its wait
    const double start = NowMs();
    SendMessageA(h->window, kHandOver, 0, 0);
    h->ms = NowMs() - start;
    PostMessageA(h->window, WM_CLOSE, 0, 0);
    return 0;
}

INT_PTR CALLBACK HandOverDialog(HWND hwnd, UINT message, WPARAM, LPARAM param) {
    if (message == WM_INITDIALOG) {
        HandOver* h = reinterpret_cast<HandOver*>(param);
        h->window = hwnd;
        CloseHandle(CreateThread(nullptr, 0, SendHandOver, h, 0, nullptr));
        return TRUE;
    }
    if (message == WM_CLOSE) {
        EndDialog(hwnd, IDOK);
        return TRUE;
    }
    return message == kHandOver;
}

double HandOverMs(HMODULE library) {
    HandOver h = {nullptr, -1};
    DialogBoxParamA(library, MAKEINTRESOURCEA(4000), nullptr, HandOverDialog,
                    reinterpret_cast<LPARAM>(&h));
    return h.ms;
}

// The idle time before every timed call and every timed step of wine's own (--gap).
int g_gapMs = 0;

void Idle() {
    if (g_gapMs > 0) Sleep(static_cast<DWORD>(g_gapMs));
}

template <typename F>
Stats Repeat(int runs, F f) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        Idle();
        samples.push_back(f());
    }
    return Summarise(samples);
}

// ---- the commands ----

struct Command {
    std::string name;
    std::string request;
    Ideal ideal;
    bool terminal = true;
    // A command that runs no status query of its own sends under the link key the library learnt
    // from its last one. The simulator takes the key of whichever library spoke last, so beside a
    // baseline each call follows a status query of its own library, untimed.
    std::string keyQuery = std::string();
};

struct Row {
    std::string name;
    Stats stats;
    Stats baseline;                    // the baseline library's, when one runs
    std::vector<double> phaseMedians;  // per phase column; empty without stamps
    double idealMs = 0;
    double floorMs = 0;
    int dialogs = 0;
    bool terminal = true;
    int failures = 0;
    int lastResult = 0;
};

void PrintHeader(bool baseline) {
    std::printf("%-19s %3s %8s %8s %8s %8s %6s %8s %7s %7s  %-5s %-12s", "command", "dlg", "median",
                "p90", "ideal", "overhead", "ratio", "floor", "beyond", "allowed", "meets",
                "beyond-meets");
    if (baseline) std::printf(" %8s %6s", "baseline", "x base");
    std::printf("\n");
}

void PrintRow(const Row& r) {
    const double overhead = r.stats.median - r.idealMs;
    const double beyond = r.stats.median - r.floorMs;
    const double allowed = 3.0 * r.dialogs + 0.02 * r.idealMs;
    const auto verdict = [&](double v) {
        return !r.terminal ? "-" : (v <= allowed ? "yes" : "NO");
    };
    char ratio[16] = "-";
    if (r.idealMs > 0) std::snprintf(ratio, sizeof ratio, "%.2f", r.stats.median / r.idealMs);
    std::printf("%-19s %3d %8.1f %8.1f %8.1f %8.1f %6s %8.1f %7.1f %7.1f  %-5s %-12s",
                r.name.c_str(), r.dialogs, r.stats.median, r.stats.p90, r.idealMs, overhead, ratio,
                r.floorMs, beyond, allowed, verdict(overhead), verdict(beyond));
    if (r.baseline.median > 0) {
        std::printf(" %8.1f %6.3f", r.baseline.median, r.stats.median / r.baseline.median);
    }
    if (r.failures > 0) std::printf("  (%d runs failed, last result %d)", r.failures, r.lastResult);
    std::printf("\n");
}

std::string IniPath() {
    char path[MAX_PATH];
    GetFullPathNameA("QUILLON.ini", sizeof path, path, nullptr);
    return path;
}

void PrintPhases(const std::vector<Row>& rows) {
    std::printf("%-19s %3s", "phases (medians)", "dlg");
    for (const char* name : kPhaseColumns) std::printf(" %6s", name);
    std::printf("\n");
    for (const Row& r : rows) {
        if (r.phaseMedians.empty()) continue;
        std::printf("%-19s %3d", r.name.c_str(), r.dialogs);
        for (double ms : r.phaseMedians) std::printf(" %6.2f", ms);
        std::printf("\n");
    }
}

// Everything about one command's runs; with a baseline library, each run calls both, the one
// that goes first alternating.
Row RunCommand(Library& lib, Library* baseline, const Command& c, int runs, int baud,
               const WineCosts& wine) {
    Row row;
    row.name = c.name;
    row.idealMs = c.ideal.Ms(baud);
    row.floorMs = wine.FloorMs(c.ideal, baud);
    row.dialogs = c.ideal.dialogs;
    row.terminal = c.terminal;
    std::vector<double> samples;
    std::vector<double> baseSamples;
    std::vector<std::vector<double>> phases(kPhaseCount + 1);
    bool stamped = false;
    std::fprintf(stderr, "%s ...\n", c.name.c_str());
    lib.Call(c.request);  // warm-up, not counted
    if (baseline != nullptr) {
        if (!c.keyQuery.empty()) baseline->Call(c.keyQuery);
        baseline->Call(c.request);
    }
    for (int i = 0; i < runs; ++i) {
        const bool baseFirst = baseline != nullptr && i % 2 == 1;
        double baseMs = 0;
        const auto runBaseline = [&] {
            if (!c.keyQuery.empty()) baseline->Call(c.keyQuery);
            Idle();
            baseline->Call(c.request, &baseMs);
        };
        if (baseFirst) runBaseline();
        if (baseline != nullptr && !c.keyQuery.empty()) lib.Call(c.keyQuery);
        Idle();
        double ms = 0;
        std::vector<double> callPhases;
        const int result = lib.Call(c.request, &ms, &callPhases);
        if (baseline != nullptr && !baseFirst) runBaseline();
        samples.push_back(ms);
        if (baseline != nullptr) baseSamples.push_back(baseMs);
        for (int p = 0; p <= kPhaseCount; ++p) phases[p].push_back(callPhases[p]);
        stamped = stamped || callPhases[kPhaseCount] < ms;
        if (result != 0) {
            ++row.failures;
            row.lastResult = result;
        }
    }
    row.stats = Summarise(samples);
    row.baseline = Summarise(baseSamples);
    if (stamped) {
        for (const auto& p : phases) row.phaseMedians.push_back(Summarise(p).median);
    }
    return row;
}

WineCosts MeasureWine(HMODULE library, int runs, int port, int cablePort, int* readBytes) {
    std::fprintf(stderr, "wine alone ...\n");
    WineCosts w;
    w.dialogMs = Repeat(runs, [library] { return TemplateDialogMs(library); }).median;
    w.settingsMs = Repeat(runs, SettingsReadsMs).median;
    w.portMs = Repeat(runs, [port] { return PortSessionMs(port); }).median;
    w.handOverMs = Repeat(runs, [library] { return HandOverMs(library); }).median;
    *readBytes = 0;
    Cable cable;
    if (cablePort > 0 && cable.Open(cablePort)) {
        w.writeMs = Repeat(runs, [&cable] { return WriteFrameMs(cable.out); }).median;
        w.detectMs = Repeat(runs, [&cable] { return DetectMs(cable); }).median;
        w.readByteMs =
            Repeat(runs, [&cable, readBytes] { return ReadByteMs(cable, readBytes); }).median;
    }
    return w;
}

const char kUsage[] =
    "usage: quillon_benchmark [--runs N] [--port N] [--cable N] [--no-mykad] [--baseline DLL]\n"
    "                         [--gap MS] [--help]\n";

const char kHelp[] =
    "quillon_benchmark: times what quillon.dll adds to each command beyond the serial line.\n"
    "\n"
    "Loads quillon.dll from its own folder and runs every terminal command and a MyKad read\n"
    "many times against the terminal simulator, then prints per command the median and 90th\n"
    "percentile wall time, the ideal time, the floor wine itself sets and the library's\n"
    "overhead beyond it; also the load time and the peak working set. Settings come from\n"
    ".\\QUILLON.ini. scripts/benchmark.sh sets everything up.\n"
    "\n"
    "Options:\n"
    "  --runs N    runs per command (default 20)\n"
    "  --port N    the terminal's COM port (default 7)\n"
    "  --cable N   a spare port pair joined like a null-modem cable: COM N+1 writes to COM N\n"
    "  --no-mykad  leave the MyKad read out\n"
    "  --baseline DLL  time another build of the library beside it, alternating, and print\n"
    "              the ratio of the medians\n"
    "  --gap MS    idle time before every timed call (default 0: back to back)\n"
    "  --help      this text\n"
    "\n"
    "Example:\n"
    "  quillon_benchmark.exe --runs 5 --port 7\n";

int BadArguments(const std::string& why) {
    std::fprintf(stderr, "quillon_benchmark: %s\n%s", why.c_str(), kUsage);
    return 2;
}

}  // namespace

// The library's phase hook: found by name in this program, called on the library's threads.
extern "C" __declspec(dllexport) void QuillonPhaseStamp(int phase) {
    const int i = g_stampCount.fetch_add(1);
    if (i < kMaxStamps) g_stamps[i] = Stamp{phase, NowMs()};
}

int main(int argc, char** argv) {
    int runs = 20;
    int port = 7;
    int cable = 0;
    int& gap = g_gapMs;
    bool mykad = true;
    std::string baselineFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--no-mykad") {
            mykad = false;
            continue;
        }
        if (arg == "--baseline") {
            if (i + 1 >= argc) return BadArguments(arg + " needs a file");
            baselineFile = argv[++i];
            continue;
        }
        int* value = arg == "--runs"    ? &runs
                     : arg == "--port"  ? &port
                     : arg == "--cable" ? &cable
                     : arg == "--gap"   ? &gap
                                        : nullptr;
        if (value == nullptr) return BadArguments("unknown option " + arg);
        if (i + 1 >= argc) return BadArguments(arg + " needs a number");
        *value = std::atoi(argv[++i]);
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
    if (!lib.Load("quillon.dll", &loadMs)) {
        std::fprintf(stderr, "quillon.dll or ProcessWebMessage not found (error %lu)\n",
                     GetLastError());
        return 1;
    }
    Library base;
    double baseLoadMs = 0;
    if (!baselineFile.empty() && !base.Load(baselineFile, &baseLoadMs)) {
        std::fprintf(stderr, "%s or its ProcessWebMessage not found (error %lu)\n",
                     baselineFile.c_str(), GetLastError());
        return 1;
    }
    Library* baseline = base.Loaded() ? &base : nullptr;

    const std::string portText = std::to_string(port);
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

    std::vector<Command> commands;
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
        c.keyQuery = "[GETFIRMWAREVERSION][0][" + portText + "]";
        c.ideal.Exchange(15, {});
        commands.push_back(c);
    }
    {
        Command c{"GETSIGNATURE", "[GETSIGNATURE][0][" + portText + "]", {}};
        c.keyQuery = "[GETFIRMWAREVERSION][0][" + portText + "]";
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
    if (mykad) {
        // The stand-in reader answers at once with the card in place at the first poll: no wire,
        // no mandated wait, and no port.
        Command c{"READMYKAD", "[READMYKAD][0][0][COUNTER-07][A1][T-000123]", {}, false};
        c.ideal.dialogs = 1;
        commands.push_back(c);
    }

    int readBytes = 0;
    const WineCosts wine = MeasureWine(lib.Module(), runs, port, cable, &readBytes);

    std::vector<Row> rows;
    for (const Command& c : commands) {
        WineCosts costs = wine;
        // A card read opens no port and reads no terminal settings.
        if (!c.terminal) costs.portMs = costs.settingsMs = 0;
        rows.push_back(RunCommand(lib, baseline, c, runs, baud, costs));
    }

    PROCESS_MEMORY_COUNTERS after = {};
    after.cb = sizeof after;
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);

    std::printf(
        "baud %d, DELAY_AFTER_FIRSTCALL %d ms, %d runs per command, %s (times in ms)\n", baud,
        delay, runs,
        gap > 0 ? ("idle " + std::to_string(gap) + " ms before each").c_str() : "back to back");
    PrintHeader(baseline != nullptr);
    for (const Row& r : rows) PrintRow(r);
    if (baseline != nullptr) {
        std::printf("baseline: %s, the same runs alternating (x base = median / baseline's)\n",
                    baselineFile.c_str());
    }
    std::printf("\n");
    PrintPhases(rows);
    std::printf("\nLoadLibrary to the end of the first [GETBRANCHCODE]: %.1f ms\n", loadMs);
    std::printf(
        "wine alone, medians: dialog template 4000 %.2f; ten settings reads %.2f; port session "
        "%.2f; purge and frame write %.2f; comm event seeing a byte %.2f; reply hand-over %.2f; "
        "one queued byte read %.3f (batches of %d bytes; %.3f on the line)\n",
        wine.dialogMs, wine.settingsMs, wine.portMs, wine.writeMs, wine.detectMs, wine.handOverMs,
        wine.readByteMs, readBytes, 10000.0 / baud);
    std::printf("peak working set %.1f MiB (%.1f MiB before LoadLibrary, %.1f MiB at the end)\n",
                after.PeakWorkingSetSize / 1048576.0, before.WorkingSetSize / 1048576.0,
                after.WorkingSetSize / 1048576.0);
    return 0;
}
