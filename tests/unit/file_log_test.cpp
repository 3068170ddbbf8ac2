// The file log's decisions against a fake file: the line layout, the [DEBUG] keys, one open file
// per call, the cap and its rename, and lines of several threads.
#include "foundation/file_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

class FakeLogThreads : public ILogThreads {
public:
    LogStamp stamp{LocalTime{2026, 12, 6, 14, 46, 40, 123}, 1234, 5678};
    bool locked = false;
    LogStamp Stamp() override { return stamp; }
    void Lock() override {
        mutex_.lock();
        locked = true;
    }
    void Unlock() override {
        locked = false;
        mutex_.unlock();
    }

private:
    std::mutex mutex_;
};

// Files by name; every call is noted, and so is any call made without the lock.
class FakeLogFile : public ILogFile {
public:
    explicit FakeLogFile(FakeLogThreads& threads) : threads_(threads) {}
    std::map<std::string, std::string> files;
    std::vector<std::string> calls;  // open, close and replace, in order
    int unlockedCalls = 0;
    bool opens = true, renames = true;

    bool Open(const std::string& path) override {
        Note("open " + path);
        if (!opens) return false;
        files[path];  // created when missing, appended to otherwise
        path_ = path;
        return true;
    }
    uint64_t Size() override {
        if (!threads_.locked) ++unlockedCalls;
        return files[path_].size();
    }
    size_t Write(const char* data, size_t size) override {
        if (!threads_.locked) ++unlockedCalls;
        files[path_].append(data, size);
        return size;
    }
    void Close() override { Note("close"); }
    bool Replace(const std::string& from, const std::string& to) override {
        Note("replace " + from + " " + to);
        if (!renames) return false;
        files[to] = files[from];
        files.erase(from);
        return true;
    }

private:
    void Note(const std::string& call) {
        if (!threads_.locked) ++unlockedCalls;
        calls.push_back(call);
    }
    FakeLogThreads& threads_;
    std::string path_;
};

const char kPrefix[] = "06/12/2026 14:46:40.123 | pid 1234 tid 5678 | ";  // 46 characters

LogSettings Enabled(const std::string& file, uint64_t maxBytes) {
    LogSettings settings;
    settings.enabled = true;
    settings.file = file;
    settings.maxBytes = maxBytes;
    return settings;
}

class FileLogTest : public ::testing::Test {
protected:
    FakeLogThreads threads;
    FakeLogFile file{threads};
    FileLog log{file, threads};

    void TearDown() override { EXPECT_EQ(file.unlockedCalls, 0) << "file calls outside the lock"; }
};

TEST(FormatLogLine, StampsDateTimeProcessAndThreadAndKeepsEachLineOnOneLine) {
    const LogStamp first{LocalTime{2026, 12, 6, 14, 46, 40, 123}, 1234, 5678};
    const LogStamp edge{LocalTime{2027, 1, 2, 3, 4, 5, 6}, 4294967295u, 0};
    const struct {
        LogStamp stamp;
        std::string text, line;
    } cases[] = {
        {first, "Before Checking",
         "06/12/2026 14:46:40.123 | pid 1234 tid 5678 | Before Checking\r\n"},
        {edge, "", "02/01/2027 03:04:05.006 | pid 4294967295 tid 0 | \r\n"},
        // The two-language prompts hold line breaks of every kind.
        {first, "Place Finger\r\nLetak jari",
         std::string(kPrefix) + "Place Finger / Letak jari\r\n"},
        {first, "a\nb\rc\r\n\r\nd", std::string(kPrefix) + "a / b / c /  / d\r\n"},
        {first, "100% | %s", std::string(kPrefix) + "100% | %s\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatLogLine(c.stamp, c.text), c.line) << c.text;
}

TEST(ReadLogSettings, MaxKbOfZeroOrLessIsTheDefaultAndNothingElseIsReadWhileSwitchedOff) {
    const struct {
        const char* enable;
        const char* file;
        const char* maxKb;
        bool enabled;
        std::string path;
        uint64_t maxBytes;
    } cases[] = {
        {nullptr, "D:\\trace.txt", "4", false, "", 0},
        {"0", "D:\\trace.txt", "4", false, "", 0},
        {"1", nullptr, nullptr, true, ".\\Log.txt", 1048576},
        {"2", "D:\\trace.txt", "1", true, "D:\\trace.txt", 1024},
        {"1", nullptr, "0", true, ".\\Log.txt", 1048576},
        {"1", nullptr, "-5", true, ".\\Log.txt", 1048576},
        {"1", nullptr, "4194304", true, ".\\Log.txt", 4294967296u},
    };
    for (const auto& c : cases) {
        FakeProfile profile;
        if (c.enable) profile.Set("Q.ini", "DEBUG", "ENABLE", c.enable);
        if (c.file) profile.Set("Q.ini", "DEBUG", "FILE", c.file);
        if (c.maxKb) profile.Set("Q.ini", "DEBUG", "MAX_KB", c.maxKb);
        const LogSettings s = ReadLogSettings(profile, "Q.ini");
        EXPECT_EQ(s.enabled, c.enabled) << c.enable;
        EXPECT_EQ(s.file, c.path) << c.enable;
        EXPECT_EQ(s.maxBytes, c.maxBytes) << c.maxKb;
    }
}

TEST_F(FileLogTest, FileIsOpenedOnceForTheCallTakesEveryLineAndIsClosedAtItsEnd) {
    log.Open(Enabled("L.txt", 1 << 20));
    WriteLog("Before Checking");
    WriteLog("[PING][-1007][123]");
    log.Close();
    EXPECT_EQ(GetLogSink(), nullptr);
    WriteLog("after the call");
    log.Write("after the call, straight to the log");

    EXPECT_EQ(file.calls, (std::vector<std::string>{"open L.txt", "close"}));
    EXPECT_EQ(file.files["L.txt"],
              std::string(kPrefix) + "Before Checking\r\n" + kPrefix + "[PING][-1007][123]\r\n");
    CapturingLog other;
    log.Close();
    WriteLog("a closed log leaves another's sink alone");
    EXPECT_EQ(other.lines, (std::vector<std::string>{"a closed log leaves another's sink alone"}));
}

TEST_F(FileLogTest, NextCallAppendsToTheSameFile) {
    file.files["L.txt"] = "earlier\r\n";
    log.Open(Enabled("L.txt", 1 << 20));
    WriteLog("x");
    log.Close();
    EXPECT_EQ(file.files["L.txt"], "earlier\r\n" + std::string(kPrefix) + "x\r\n");
}

TEST_F(FileLogTest, SwitchedOffOrUnopenableTheLogTouchesNoFileAndTakesNoLines) {
    LogSettings off = Enabled("L.txt", 1 << 20);
    off.enabled = false;
    log.Open(off);
    EXPECT_EQ(GetLogSink(), nullptr);
    log.Write("dropped");
    log.Close();
    EXPECT_EQ(file.calls, std::vector<std::string>{});

    file.opens = false;
    log.Open(Enabled("Z:\\no\\such\\folder\\L.txt", 1 << 20));
    EXPECT_EQ(GetLogSink(), nullptr);
    log.Write("dropped");
    log.Close();
    EXPECT_EQ(file.calls, std::vector<std::string>{"open Z:\\no\\such\\folder\\L.txt"});
    EXPECT_TRUE(file.files.empty());
}

// Each line below is 46 + text + 2 bytes long; the cap is 200 bytes.
TEST_F(FileLogTest, LineThatWouldPassTheCapFirstRenamesTheFileToDot1AndStartsANewOne) {
    const struct {
        const char* name;
        size_t existing;            // bytes in L.txt before the call
        std::vector<size_t> texts;  // lengths of the texts written
        bool renames;               // whether a rename succeeds
        int tries;                  // renames tried
        size_t sizeL, sizeL1;       // the files at the end (L.txt.1 starts with 7 bytes)
    } cases[] = {
        {"a line that just fits", 0, {52, 52}, true, 0, 200, 7},
        {"one byte over", 0, {52, 53}, true, 1, 101, 100},
        {"an empty file takes a line beyond the cap", 0, {300, 1}, true, 1, 49, 348},
        {"a file already beyond the cap", 500, {1}, true, 1, 49, 500},
        {"each time the cap is reached", 0, {52, 52, 52, 52, 52}, true, 2, 100, 200},
        {"a failed rename keeps the lines, not tried again", 150, {52, 52}, false, 1, 350, 7},
    };
    for (const auto& c : cases) {
        file.calls.clear();
        file.files.clear();
        file.files["L.txt"] = std::string(c.existing, 'o');
        file.files["L.txt.1"] = "older\r\n";
        file.renames = c.renames;
        log.Open(Enabled("L.txt", 200));
        for (size_t n : c.texts) WriteLog(std::string(n, 't'));
        log.Close();
        std::vector<std::string> calls{"open L.txt"};
        for (int i = 0; i < c.tries; ++i) {
            calls.insert(calls.end(), {"close", "replace L.txt L.txt.1", "open L.txt"});
        }
        calls.push_back("close");
        EXPECT_EQ(file.calls, calls) << c.name;
        EXPECT_EQ(file.files["L.txt"].size(), c.sizeL) << c.name;
        EXPECT_EQ(file.files["L.txt.1"].size(), c.sizeL1) << c.name;
    }
}

TEST_F(FileLogTest, AfterAFailedRenameTheNextCallTriesAgain) {
    file.files["L.txt"] = std::string(300, 'o');
    file.renames = false;
    log.Open(Enabled("L.txt", 200));
    WriteLog("a");
    log.Close();
    file.renames = true;
    log.Open(Enabled("L.txt", 200));
    WriteLog("b");
    log.Close();
    EXPECT_EQ(file.files["L.txt"], std::string(kPrefix) + "b\r\n");
    EXPECT_EQ(file.files["L.txt.1"], std::string(300, 'o') + kPrefix + "a\r\n");
}

// 900 lines of 65 bytes: one rename on the way.
TEST_F(FileLogTest, LinesOfSeveralThreadsStayWholeAndInOrderAcrossARename) {
    log.Open(Enabled("L.txt", 40000));
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < 300; ++i) WriteLog(Format("thread %d line %03d", t, i));
        });
    }
    for (std::thread& w : writers) w.join();
    log.Close();

    std::map<int, int> next;  // each thread's lines arrive whole and in its order
    for (const char* name : {"L.txt.1", "L.txt"}) {
        const std::string& text = file.files[name];
        EXPECT_GT(text.size(), 0u) << name;
        EXPECT_LE(text.size(), 40000u) << name;
        for (size_t at = 0; at < text.size();) {
            const size_t end = text.find("\r\n", at);
            ASSERT_NE(end, std::string::npos);
            const std::string line = text.substr(at, end - at);
            int t = -1, i = -1;
            ASSERT_EQ(line.compare(0, 46, kPrefix), 0) << line;
            ASSERT_EQ(std::sscanf(line.c_str() + 46, "thread %d line %d", &t, &i), 2) << line;
            ASSERT_EQ(i, next[t]) << line;
            next[t] = i + 1;
            at = end + 2;
        }
    }
    EXPECT_EQ(next, (std::map<int, int>{{0, 300}, {1, 300}, {2, 300}}));
}

}  // namespace
}  // namespace quillon
