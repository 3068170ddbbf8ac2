// The file log against a fake file (every file call under its lock), and the port's lookup.
#include "foundation/file_log.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "fakes.h"
#include "foundation/settings.h"

namespace quillon {
namespace {

using namespace testing_support;
using Lines = std::vector<std::string>;

// Files by name, the open, close and replace calls in order, and file calls made unlocked.
class FakeLogFile : public ILogFile, public ILogThreads {
  public:
    std::map<std::string, std::string> files;
    Lines calls;
    int unlockedCalls = 0;
    bool opens = true, renames = true;

    LogStamp Stamp() override { return {LocalTime{2026, 12, 6, 14, 46, 40, 123}, 1234, 5678}; }
    void Lock() override { locked_ = true; }
    void Unlock() override { locked_ = false; }
    bool Open(const std::string& path) override {
        if (Note("open " + path), opens) files[path_ = path];  // created when missing
        return opens;
    }
    uint64_t Size() override { return Note(""), files[path_].size(); }
    size_t Write(const char* data, size_t n) override {
        return Note(""), files[path_].append(data, n), n;
    }
    void Close() override { Note("close"); }
    bool Replace(const std::string& from, const std::string& to) override {
        if (Note("replace " + from + " " + to), renames) files[to] = files[from], files.erase(from);
        return renames;
    }

  private:
    void Note(const std::string& call) {
        unlockedCalls += locked_ ? 0 : 1;
        if (!call.empty()) calls.push_back(call);
    }
    bool locked_ = false;
    std::string path_;
};

const char kPrefix[] = "06/12/2026 14:46:40.123 | pid 1234 tid 5678 | ";  // 46 characters

class FileLogTest : public ::testing::Test {
  protected:
    FakeLogFile file;
    FileLog log{file, file};
    void Call(uint64_t maxBytes, const Lines& lines) {  // one call of the library
        log.Open(LogSettings{true, "L.txt", maxBytes});
        for (const std::string& line : lines) WriteLog(line);
        log.Close();
    }
    void TearDown() override { EXPECT_EQ(file.unlockedCalls, 0) << "file calls outside the lock"; }
};

TEST(ReadLogSettings, MissingOrZeroKeysReadAsTheirDefaultsAndTheCapNeedsMoreThan32Bits) {
    const std::tuple<const char*, const char*, const char*, LogSettings> cases[] = {
        // ENABLE, FILE, MAX_KB, what is read
        {"1", nullptr, nullptr, {true, ".\\Log.txt", 1048576}},
        {"1", nullptr, "0", {true, ".\\Log.txt", 1048576}},
        {"1", nullptr, "4194304", {true, ".\\Log.txt", 4294967296u}},
    };
    for (const auto& c : cases) {
        FakeProfile profile;
        const char* keys[] = {"ENABLE", "FILE", "MAX_KB"};
        const char* values[] = {std::get<0>(c), std::get<1>(c), std::get<2>(c)};
        for (int i = 0; i < 3; ++i)
            if (values[i]) profile.Set("Q.ini", "DEBUG", keys[i], values[i]);
        const LogSettings s = ReadLogSettings(profile, "Q.ini"), want = std::get<3>(c);
        EXPECT_EQ(std::tie(s.enabled, s.file, s.maxBytes),
                  std::tie(want.enabled, want.file, want.maxBytes));
    }
}

// Switched off, no file is opened; one that does not open takes no lines.
TEST_F(FileLogTest, FileIsOpenedOnceForTheCallTakesEveryLineAndIsClosedAtItsEnd) {
    log.Open(LogSettings{false, "Z.txt", 1 << 20});
    file.opens = false;
    Call(1 << 20, {"dropped"});
    file.opens = true;
    Call(1 << 20, {"\r\nBefore\r\nChecking\r%s", "[PING]"});  // one line each, "%" is text
    EXPECT_EQ(GetLogSink(), nullptr);
    log.Write("after the call, straight to the log");
    EXPECT_EQ(file.calls, (Lines{"open L.txt", "open L.txt", "close"}));
    EXPECT_EQ(file.files["L.txt"],
              std::string(kPrefix) + " / Before / Checking / %s\r\n" + kPrefix + "[PING]\r\n");
    CapturingLog other;
    log.Close();
    WriteLog("a closed log leaves another's sink alone");
    EXPECT_EQ(other.lines.size(), 1u);
}

// Each line is 46 + text + 2 bytes long; the cap is 200 bytes; L.txt.1 starts with 7 bytes.
TEST_F(FileLogTest, LineThatWouldPassTheCapFirstRenamesTheFileToDot1AndStartsANewOne) {
    const struct {
        size_t existing;            // bytes in L.txt before the call
        std::vector<size_t> texts;  // lengths of the texts written
        bool renames;
        int tries;             // renames tried
        size_t sizeL, sizeL1;  // at the end
    } cases[] = {
        {0, {52, 52}, true, 0, 200, 7},  // just fits
        {0, {52, 53}, true, 1, 101, 100},
        {0, {300, 1}, true, 1, 49, 348},  // an empty file takes a line beyond the cap
        {0, {52, 52, 52, 52, 52}, true, 2, 100, 200},
        {150, {52, 52}, false, 1, 350, 7},  // a failed rename is not tried again in the call
    };
    for (const auto& c : cases) {
        file.calls.clear();
        file.files = {{"L.txt", std::string(c.existing, 'o')}, {"L.txt.1", "older\r\n"}};
        file.renames = c.renames;
        Lines lines, calls{"open L.txt"};
        for (size_t n : c.texts) lines.push_back(std::string(n, 't'));
        Call(200, lines);
        for (int i = 0; i < c.tries; ++i)
            calls.insert(calls.end(), {"close", "replace L.txt L.txt.1", "open L.txt"});
        calls.push_back("close");
        EXPECT_EQ(file.calls, calls) << c.sizeL;
        EXPECT_EQ(file.files["L.txt"].size(), c.sizeL);
        EXPECT_EQ(file.files["L.txt.1"].size(), c.sizeL1);
    }
    file.files = {{"L.txt", std::string(300, 'o')}}, file.renames = true;  // the next call tries
    Call(200, {"a"});
    EXPECT_EQ(file.files["L.txt.1"], std::string(300, 'o'));
}

}  // namespace
}  // namespace quillon
