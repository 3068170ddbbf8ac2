// The running simulator's pacing of a slow line and the removal of its link; what the line
// carries is played end to end.
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
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

TEST(SimulatorProgram, ServesAPacedPtyThroughItsLinkAndRemovesTheLinkWhenStopped) {
    const std::string link = "/tmp/quillon_sim_" + std::to_string(getpid()) + "_ttyTERM";
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        execl(QUILLON_TERMINAL_SIM_PATH, "sim", "--link", link.c_str(), "--baud", "600",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE* simOut = fdopen(out[0], "r");
    char line[256] = {};
    EXPECT_NE(fgets(line, sizeof line, simOut), nullptr) << "the first line tells it is ready";
    fclose(simOut);
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0);
    if (fd >= 0) {
        struct termios t;
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        // The host's serial-number query (zero key, pair 11 C3) is 16 bytes on the wire, 267 ms
        // at 600 baud, the answer 21 bytes, 350 ms: either pause alone stays well below 580 ms.
        const uint8_t query[] = {0x02, 0x00, 0x0B, 0x51, 0x72, 0x85, 0x6B, 0x10,
                                 0x3D, 0x22, 0xC4, 0x4B, 0x99, 0x00, 0xCA, 0x03};
        const auto start = Clock::now();
        EXPECT_EQ(write(fd, query, sizeof query), static_cast<ssize_t>(sizeof query));
        std::vector<uint8_t> answer;
        while (answer.size() < 21 && Clock::now() - start < std::chrono::seconds(3)) {
            struct pollfd p = {fd, POLLIN, 0};
            uint8_t buffer[64];
            const ssize_t got = poll(&p, 1, 20) > 0 ? read(fd, buffer, sizeof buffer) : 0;
            if (got > 0) answer.insert(answer.end(), buffer, buffer + got);
        }
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(580));
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
        EXPECT_EQ(answer.size(), 21u);
        answer.resize(3);
        EXPECT_EQ(answer, (std::vector<uint8_t>{0x02, 0x00, 0x10}));
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
