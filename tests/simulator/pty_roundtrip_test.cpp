// Runs the simulator program on a pseudo-terminal and talks to it as the host does: frames
// encoded by the host codec go into the slave side, the answers come back through the host's
// reply parser.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "terminal/frame_codec.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

class Collector : public IReplyTarget {
public:
    void OnFrameComplete() override {
        const int length = g_abRxFrame[1] * 256 + g_abRxFrame[2];
        frames.emplace_back(g_abRxFrame + 3, g_abRxFrame + 3 + length);
    }
    std::vector<Bytes> frames;
};

class CountingLog : public ILogSink {
public:
    void Write(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

std::string TempPath(const char* name) {
    const char* dir = getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/quillon_sim_" + std::to_string(getpid()) +
           "_" + name;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

class SimulatorProcess {
public:
    explicit SimulatorProcess(std::vector<std::string> args) {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            static std::string program = QUILLON_TERMINAL_SIM_PATH;
            argv.push_back(&program[0]);
            for (std::string& a : args) argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        stdout_ = out[0];
        firstLine_ = ReadLine(5000);
    }
    ~SimulatorProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0) close(stdout_);
    }
    const std::string& FirstLine() const { return firstLine_; }
    // Exit status, or -1 if it did not end within the time.
    int WaitExit(int ms) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < until) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            }
            usleep(10000);
        }
        return -1;
    }

private:
    std::string ReadLine(int ms) {
        std::string line;
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < until) {
            struct pollfd p = {stdout_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char c;
            if (read(stdout_, &c, 1) != 1) break;
            if (c == '\n') return line;
            line.push_back(c);
        }
        return line;
    }

    pid_t pid_ = -1;
    int stdout_ = -1;
    bool exited_ = false;
    std::string firstLine_;
};

uint8_t g_pair[2] = {0x6B, 0x2E};
void TestPair(uint8_t pair[2]) {
    pair[0] = g_pair[0];
    pair[1] = g_pair[1];
}

class PtyRoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(LinkKey, 0, sizeof LinkKey);
        g_nRxLen = 0;
        SetScramblePairSource(TestPair);
        SetReplyTarget(&host);
        SetLogSink(&log);
        record = TempPath("record.txt");
        unlink(record.c_str());
    }
    void TearDown() override {
        if (fd >= 0) close(fd);
        SetScramblePairSource(nullptr);
        SetReplyTarget(nullptr);
        SetLogSink(nullptr);
        unlink(record.c_str());
    }

    bool OpenSlave(const std::string& firstLine) {
        if (firstLine.rfind("pty: ", 0) != 0) return false;
        slave = firstLine.substr(5);
        fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0) return false;
        struct termios t;
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        return true;
    }

    // Sends one command and collects decoded answers until `count` frames are in or time runs out.
    std::vector<Bytes> Exchange(const Bytes& payload, size_t count, int ms = 3000) {
        Bytes plain = {0x02, static_cast<uint8_t>(payload.size() >> 8),
                       static_cast<uint8_t>(payload.size())};
        plain.insert(plain.end(), payload.begin(), payload.end());
        plain.resize(plain.size() + 2 + 8, 0);
        uint8_t wire[kWorkAreaSize];
        const int n = EncodeFrame(wire, plain.data(), static_cast<int>(payload.size()) + 5);
        g_nRxLen = 0;
        host.frames.clear();
        if (write(fd, wire, static_cast<size_t>(n)) != n) return {};
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (host.frames.size() < count && Clock::now() < until) {
            struct pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            uint8_t buffer[512];
            const ssize_t got = read(fd, buffer, sizeof buffer);
            for (ssize_t i = 0; i < got; ++i) CollectReplyByte(buffer[i]);
        }
        return host.frames;
    }

    Collector host;
    CountingLog log;
    std::string record;
    std::string slave;
    int fd = -1;
};

TEST_F(PtyRoundTrip, StatusThenSerialNumberOverThePtyAndAgainAfterThePortIsReopened) {
    SimulatorProcess sim({"--record", record});
    ASSERT_TRUE(OpenSlave(sim.FirstLine())) << sim.FirstLine();

    const std::vector<Bytes> status = Exchange({0x23}, 1);
    ASSERT_EQ(status.size(), 1u);
    ASSERT_EQ(status[0].size(), 3u + 17 + 16 + 16);
    EXPECT_EQ(std::string(status[0].begin() + 3, status[0].begin() + 20), "QUILLON TEST BANK");
    std::memcpy(LinkKey, status[0].data() + 36, 16);

    const Bytes expectedSerial = {0x25, 0x06, 0x00, 0x07, 'Q', 'T', '-', '0', '0', '0', '1'};
    EXPECT_EQ(Exchange({0x25}, 1), std::vector<Bytes>{expectedSerial});

    // The host closes its port between dialogs; the simulator keeps serving the same line.
    close(fd);
    fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    g_pair[0] = 0x90;
    EXPECT_EQ(Exchange({0x25}, 1), std::vector<Bytes>{expectedSerial});

    EXPECT_EQ(ReadLines(record),
              (std::vector<std::string>{"020001232303 1", "020001252503 0", "020001252503 0"}));
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(PtyRoundTrip, ScriptedLineFaultsThenHangUpEndsTheSimulatorAndRemovesItsLink) {
    const std::string scenario = TempPath("scenario.txt");
    const std::string link = TempPath("ttyTERM");
    {
        std::ofstream out(scenario);
        out << "serial SN-PTY-7\n"
               "on 25\n"
               "  garbage 4\n"
               "  split 5 30\n"
               "  badsum\n"
               "  default\n"
               "end\n"
               "on 72\n"
               "  delay 100\n"
               "  hangup\n"
               "end\n";
    }
    SimulatorProcess sim({"--scenario", scenario, "--link", link, "--record", record});
    ASSERT_TRUE(OpenSlave(sim.FirstLine())) << sim.FirstLine();
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), slave);

    const auto start = Clock::now();
    EXPECT_EQ(Exchange({0x25}, 1), std::vector<Bytes>{(Bytes{0x25, 0x06, 0x00, 0x08, 'S', 'N', '-',
                                                             'P', 'T', 'Y', '-', '7'})});
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90)) << "four pauses of 30 ms";
    EXPECT_EQ(log.lines, std::vector<std::string>(4, "INVALID PROTOCOL REPLY RETURN"));

    const Bytes clock = {0x72, 0x01, 0x00, '2', '6', '0', '1', '0',
                         '2',  '0',  '3',  '0', '4', '0', '5'};
    EXPECT_TRUE(Exchange(clock, 1, 300).empty());
    EXPECT_EQ(sim.WaitExit(3000), 0);
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "link removed";
    EXPECT_EQ(
        ReadLines(record),
        (std::vector<std::string>{"020001252503 0", "02000F720100323630313032303330343035CA03 0"}));
    unlink(scenario.c_str());
}

TEST_F(PtyRoundTrip, BaudOptionPacesTheAnswer) {
    SimulatorProcess sim({"--baud", "1200"});
    ASSERT_TRUE(OpenSlave(sim.FirstLine())) << sim.FirstLine();
    // The status answer is 61 bytes on the wire: 610 bits, about half a second at 1200 baud.
    const auto start = Clock::now();
    ASSERT_EQ(Exchange({0x23}, 1).size(), 1u);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(480));
    EXPECT_LT(took, std::chrono::milliseconds(2000));
}

TEST_F(PtyRoundTrip, BaudOptionAlsoPacesTheHostsFrame) {
    SimulatorProcess sim({"--baud", "1200"});
    ASSERT_TRUE(OpenSlave(sim.FirstLine())) << sim.FirstLine();
    // The clock frame is 24 bytes on the wire (200 ms at 1200 baud), its answer 13 (108 ms);
    // the pty delivers the host's frame at once, so only the answer would count without pacing.
    const Bytes clock = {0x72, 0x01, 0x00, '2', '6', '0', '1', '0',
                         '2',  '0',  '3',  '0', '4', '0', '5'};
    const auto start = Clock::now();
    ASSERT_EQ(Exchange(clock, 1).size(), 1u);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(2000));
}

TEST(SimulatorProgram, RefusesABrokenScenarioWithItsLine) {
    const std::string scenario = TempPath("broken.txt");
    {
        std::ofstream out(scenario);
        out << "on 25\n  reply 0G\nend\n";
    }
    SimulatorProcess sim({"--scenario", scenario});
    EXPECT_EQ(sim.WaitExit(3000), 2);
    EXPECT_EQ(sim.FirstLine(), "");
    unlink(scenario.c_str());
}

}  // namespace
}  // namespace quillon
