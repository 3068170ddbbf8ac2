// quillon_terminal_sim: stands in for the counter terminal at the far end of a serial line.
// Serves a pseudo-terminal (or a given device), decodes the host's frames, records them and
// answers from a scenario file or with its default answers. Usage in README.md.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "simulator/scenario.h"
#include "simulator/terminal_model.h"
#include "simulator/terminal_wire.h"

namespace {

using quillon::sim::Action;
using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

struct Options {
    std::string device;
    std::string link;
    std::string scenario;
    std::string record;
    long baud = 0;
};

const char kUsage[] =
    "usage: quillon_terminal_sim [--device PATH | --link PATH] [--scenario FILE]\n"
    "                            [--record PATH|-] [--baud N] [--help]\n";

const char kHelp[] =
    "quillon_terminal_sim: plays the counter terminal at the far end of a serial line.\n"
    "\n"
    "Opens a pseudo-terminal (its path is the first line printed, \"pty: PATH\") or the given\n"
    "device, decodes every frame the host sends, records it and answers from a scenario file\n"
    "or with its default answers, until stopped (Ctrl-C or SIGTERM).\n"
    "\n"
    "Options:\n"
    "  --device PATH    serve this serial device instead of a new pseudo-terminal\n"
    "  --link PATH      also make PATH a symbolic link to the pseudo-terminal\n"
    "  --scenario FILE  answers, delays and events to play (tools/simulator/README.md)\n"
    "  --record PATH|-  append one line per frame received to PATH (- : standard output)\n"
    "  --baud N         pace both directions at N baud\n"
    "  --help           this text\n"
    "\n"
    "Example:\n"
    "  quillon_terminal_sim --link /tmp/com7 --record /tmp/frames.txt\n";

// An unusable command line: one line saying why, then the usage; exit status 2.
int BadArguments(const std::string& why) {
    fprintf(stderr, "quillon_terminal_sim: %s\n%s", why.c_str(), kUsage);
    return 2;
}

// Empty when the options are usable, else why not; `help` is set for --help.
std::string ParseOptions(int argc, char** argv, Options* o, bool* help) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string* out = nullptr;
        std::string baud;
        if (arg == "--help" || arg == "-h") {
            *help = true;
            return "";
        } else if (arg == "--device") {
            out = &o->device;
        } else if (arg == "--link") {
            out = &o->link;
        } else if (arg == "--scenario") {
            out = &o->scenario;
        } else if (arg == "--record") {
            out = &o->record;
        } else if (arg == "--baud") {
            out = &baud;
        } else {
            return "unknown option " + arg;
        }
        if (i + 1 >= argc) return arg + " needs a value";
        *out = argv[++i];
        if (arg == "--baud") {
            o->baud = strtol(baud.c_str(), nullptr, 10);
            if (o->baud <= 0) return "--baud needs a number above 0";
        }
    }
    if (!o->device.empty() && !o->link.empty()) return "--device and --link do not go together";
    return "";
}

void MakeRaw(int fd) {
    struct termios t;
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
}

// Sleeps up to `ms`, ending early on a stop request.
void Pause(long ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!g_stop && Clock::now() < until) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(50)));
    }
}

class Line {
  public:
    ~Line() { Close(); }

    bool OpenPty(const std::string& link) {
        fd_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) return Fail("posix_openpt");
        const char* name = ptsname(fd_);
        if (name == nullptr) return Fail("ptsname");
        slavePath_ = name;
        // Holding the slave open keeps the pty alive while the host closes and reopens its port,
        // so the master never reads EIO in between. This end never reads from it.
        slaveFd_ = open(name, O_RDWR | O_NOCTTY);
        if (slaveFd_ < 0) return Fail("open slave");
        MakeRaw(fd_);
        MakeRaw(slaveFd_);
        if (!link.empty()) {
            struct stat st;
            if (lstat(link.c_str(), &st) == 0) {
                if (!S_ISLNK(st.st_mode)) {
                    fprintf(stderr, "sim: %s exists and is not a link\n", link.c_str());
                    return false;
                }
                unlink(link.c_str());
            }
            if (symlink(name, link.c_str()) != 0) return Fail("symlink");
            link_ = link;
        }
        return SetNonBlocking();
    }

    bool OpenDevice(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd_ < 0) return Fail(path.c_str());
        if (isatty(fd_)) MakeRaw(fd_);
        return SetNonBlocking();
    }

    const std::string& SlavePath() const { return slavePath_; }

    // Suspends output on the host's side of the pty, as a terminal holding the line by flow
    // control does: the host's writes stay pending and never reach this end.
    bool Hold() {
        if (slaveFd_ < 0 || tcflow(slaveFd_, TCOOFF) != 0) return Fail("tcflow");
        fprintf(stderr, "sim: line held, no more bytes from the host\n");
        return true;
    }
    int Fd() const { return fd_; }

    // Writes everything, waiting for room; gives up after two seconds without progress.
    bool WriteAll(const uint8_t* data, size_t size) {
        auto lastProgress = Clock::now();
        while (size > 0 && !g_stop) {
            const ssize_t n = write(fd_, data, size);
            if (n > 0) {
                data += n;
                size -= static_cast<size_t>(n);
                lastProgress = Clock::now();
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR &&
                errno != EIO) {
                perror("sim: write");
                return false;
            }
            if (Clock::now() - lastProgress > std::chrono::seconds(2)) {
                fprintf(stderr, "sim: line does not take bytes, %zu dropped\n", size);
                return false;
            }
            struct pollfd p = {fd_, POLLOUT, 0};
            poll(&p, 1, 20);
        }
        return true;
    }

    void Close() {
        if (fd_ >= 0) close(fd_);
        if (slaveFd_ >= 0) close(slaveFd_);
        if (!link_.empty()) unlink(link_.c_str());
        fd_ = slaveFd_ = -1;
        link_.clear();
    }

  private:
    bool Fail(const char* what) {
        fprintf(stderr, "sim: %s: %s\n", what, strerror(errno));
        return false;
    }
    bool SetNonBlocking() {
        const int flags = fcntl(fd_, F_GETFL);
        return fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0 || Fail("fcntl");
    }

    int fd_ = -1;
    int slaveFd_ = -1;
    std::string slavePath_;
    std::string link_;
};

// One byte on the line at `baud`: a start bit, 8 data bits and a stop bit.
Clock::duration ByteTime(long baud) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(10.0 / static_cast<double>(baud)));
}

// Writes bytes, paced at `baud` (10 bits a byte) when it is set: each byte is handed over once a
// real line would have finished sending it, in chunks of about a millisecond.
void Transmit(Line* line, const uint8_t* data, size_t size, long baud) {
    if (baud <= 0) {
        line->WriteAll(data, size);
        return;
    }
    const auto start = Clock::now();
    const Clock::duration byteTime = ByteTime(baud);
    const size_t chunk = std::max<size_t>(1, static_cast<size_t>(baud / 10000));
    for (size_t at = 0; at < size && !g_stop; at += chunk) {
        const size_t n = std::min(chunk, size - at);
        std::this_thread::sleep_until(start + byteTime * (at + n));
        if (!line->WriteAll(data + at, n)) return;
    }
}

// Returns false when the answer ends the simulator (hang-up).
bool Perform(const std::vector<Action>& actions, Line* line, long baud) {
    for (const Action& a : actions) {
        if (g_stop) return true;
        switch (a.kind) {
            case Action::Kind::kDelay:
                Pause(a.delayMs);
                break;
            case Action::Kind::kHangup:
                fprintf(stderr, "sim: hang-up\n");
                return false;
            case Action::Kind::kHold:
                line->Hold();
                break;
            case Action::Kind::kSend: {
                const size_t piece =
                    a.pieceSize > 0 ? static_cast<size_t>(a.pieceSize) : a.bytes.size();
                for (size_t at = 0; at < a.bytes.size(); at += piece) {
                    if (at > 0) Pause(a.pieceGapMs);
                    Transmit(line, a.bytes.data() + at, std::min(piece, a.bytes.size() - at), baud);
                }
                break;
            }
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    const std::string problem = ParseOptions(argc, argv, &options, &help);
    if (help) {
        fputs(kHelp, stdout);
        return 0;
    }
    if (!problem.empty()) return BadArguments(problem);

    quillon::sim::Scenario scenario;
    if (!options.scenario.empty()) {
        std::ifstream in(options.scenario);
        if (!in) {
            fprintf(stderr, "sim: cannot read %s\n", options.scenario.c_str());
            return 2;
        }
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        if (!quillon::sim::ParseScenario(text.str(), &scenario, &error)) {
            fprintf(stderr, "sim: %s: %s\n", options.scenario.c_str(), error.c_str());
            return 2;
        }
    }

    FILE* record = nullptr;
    if (options.record == "-") {
        record = stdout;
    } else if (!options.record.empty()) {
        record = fopen(options.record.c_str(), "a");
        if (record == nullptr) {
            fprintf(stderr, "sim: cannot open %s: %s\n", options.record.c_str(), strerror(errno));
            return 2;
        }
    }

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Line line;
    if (options.device.empty()) {
        if (!line.OpenPty(options.link)) return 1;
        printf("pty: %s\n", line.SlavePath().c_str());
    } else {
        if (!line.OpenDevice(options.device)) return 1;
        printf("device: %s\n", options.device.c_str());
    }
    if (scenario.held) line.Hold();
    fflush(stdout);

    quillon::sim::TerminalModel terminal(scenario, std::random_device{}());
    quillon::sim::WireFramer framer;
    auto lastByte = Clock::now();
    auto frameStart = lastByte;  // when the first byte of the frame being collected came in
    uint8_t buffer[4096];

    while (!g_stop) {
        struct pollfd p = {line.Fd(), POLLIN, 0};
        const int ready = poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR) {
            perror("sim: poll");
            break;
        }
        // A host that went away mid-frame must not leave half a frame in front of its next one.
        if (framer.Partial() && Clock::now() - lastByte > std::chrono::seconds(1)) {
            fprintf(stderr, "sim: incomplete frame discarded\n");
            framer.Reset();
        }
        if (ready <= 0) continue;
        if (!(p.revents & POLLIN)) {
            Pause(50);  // no reader on the far end (EIO, hang-up): wait for it to come back
            continue;
        }
        const ssize_t n = read(line.Fd(), buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno != EAGAIN && errno != EIO && errno != EINTR) perror("sim: read");
            Pause(50);
            continue;
        }
        lastByte = Clock::now();
        for (ssize_t i = 0; i < n && !g_stop; ++i) {
            if (!framer.Partial()) frameStart = lastByte;
            if (!framer.Push(buffer[i])) continue;
            const std::vector<uint8_t>& wire = framer.Frame();
            // A pty hands the host's whole frame over at once; a real line takes its time.
            if (options.baud > 0) {
                std::this_thread::sleep_until(frameStart + ByteTime(options.baud) * wire.size());
            }
            quillon::sim::HostFrame frame;
            const std::vector<Action> actions = terminal.OnWireFrame(wire, &frame);
            if (frame.plain.empty()) {
                fprintf(stderr, "sim: not a host frame: %s\n", quillon::sim::ToHex(wire).c_str());
                continue;
            }
            if (record != nullptr) {
                fprintf(record, "%s\n", quillon::sim::RecordLine(frame, wire).c_str());
                fflush(record);
            }
            fprintf(stderr, "sim: host 0x%02X (%s key)%s%s\n", frame.Code(),
                    frame.defaultKey ? "default" : "link", frame.paddingValid ? "" : " undecodable",
                    terminal.Muted() ? " muted" : "");
            if (frame.Code() == 0x72 && !terminal.TerminalTime().empty()) {
                fprintf(stderr, "sim: clock set to %s\n", terminal.TerminalTime().c_str());
            }
            if (!Perform(actions, &line, options.baud)) {
                g_stop = 1;
            }
        }
    }

    line.Close();
    if (record != nullptr && record != stdout) fclose(record);
    return 0;
}
