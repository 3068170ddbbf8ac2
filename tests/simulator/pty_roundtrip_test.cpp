// Runs the simulator program on a pseudo-terminal and talks to it as the host does, for what only
// the running program shows: its link to the pty and the pacing of a slow line. What the line
// carries is played against the real host by the end-to-end tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "terminal/frame_codec.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

class Collector : public IReplyTarget {
  public:
    void OnFrameComplete() override { codes.push_back(g_abRxFrame[3]); }
    Bytes codes;
};

// Sends one command (code and data) on `fd`; returns the codes of the replies decoded in 3 s.
Bytes Exchange(int fd, const Bytes& payload) {
    Collector host;
    SetReplyTarget(&host);
    Bytes plain = {kStx, 0, 0};
    plain.insert(plain.end(), payload.begin(), payload.end());
    plain.resize(plain.size() + 16, 0);
    uint8_t wire[kWorkAreaSize];
    const int n = EncodeFrame(wire, plain.data(), static_cast<int>(payload.size()) + 5);
    if (write(fd, wire, static_cast<size_t>(n)) == n) {
        for (const auto until = Clock::now() + std::chrono::seconds(3);
             host.codes.empty() && Clock::now() < until;) {
            struct pollfd p = {fd, POLLIN, 0};
            uint8_t buffer[512];
            const ssize_t got = poll(&p, 1, 20) > 0 ? read(fd, buffer, sizeof buffer) : 0;
            for (ssize_t i = 0; i < got; ++i) CollectReplyByte(buffer[i]);
        }
    }
    SetReplyTarget(nullptr);
    return host.codes;
}

TEST(SimulatorProgram, ServesAPacedPtyThroughItsLinkAndRemovesTheLinkWhenStopped) {
    const std::string link = "/tmp/quillon_sim_" + std::to_string(getpid()) + "_ttyTERM";
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        execl(QUILLON_TERMINAL_SIM_PATH, "sim", "--link", link.c_str(), "--baud", "1200",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE* stdoutOfSim = fdopen(out[0], "r");
    char line[256] = {};
    const bool started = fgets(line, sizeof line, stdoutOfSim) != nullptr;
    fclose(stdoutOfSim);
    char slave[256] = {};
    EXPECT_TRUE(started && readlink(link.c_str(), slave, sizeof slave - 1) > 0);
    EXPECT_EQ("pty: " + std::string(slave) + "\n", line);
    const int fd = open(slave, O_RDWR | O_NOCTTY);
    if (fd >= 0) {
        struct termios t;
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        // The clock frame is 24 bytes on the wire (200 ms at 1200 baud), its answer 13 (108 ms);
        // the pty delivers the host's frame at once, so either pause alone stays below 300 ms.
        const auto start = Clock::now();
        EXPECT_EQ(Exchange(fd, {0x72, 0x01, 0x00, '2', '6', '0', '1', '0', '2', '0', '3', '0', '4',
                                '0', '5'}),
                  Bytes{0x72});
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
        close(fd);
    }
    int status = -1;
    kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "link removed";
}

}  // namespace
}  // namespace quillon
