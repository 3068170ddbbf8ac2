// The export's barrier: nothing thrown inside a call leaves it, out of memory included. Every
// allocation of a call is made to fail in turn (counting_allocator.cpp); each time the call must
// answer -1009 with the whole barrier reply, and the next call its normal reply.
#include "command/call_barrier.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "counting_allocator.h"
#include "mykad_fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

enum class Throw { kNothing, kBadAlloc, kRuntimeError, kInt };

// Runners that succeed with fixed data, or throw from inside the command.
class ScriptedRunners : public IRunners {
public:
    Throw thrown = Throw::kNothing;

    int PerformEnroll(int, int, uint8_t* t) override { return Fill(t, 598, 0xAB); }
    int PerformVerify(int, int, int, const uint8_t*) override { return Done(); }
    int PerformVerify2F(int, int, int, const uint8_t*) override { return Done(); }
    int GetSerialNumber(int, int, char* o) override { return std::strcpy(o, "SN-0042"), Done(); }
    int GetLLTStatus(int, int, char* o) override { return std::strcpy(o, "KEDAI ZETA"), Done(); }
    int SetTerminalTime(int, int, const char*) override { return Done(); }
    int GetSignature(int, int, uint8_t* d, uint32_t* n) override {
        const uint8_t bytes[] = {0x00, 0x01, 0x7F};
        std::memcpy(d, bytes, sizeof bytes);
        *n = sizeof bytes;
        return Done();
    }
    int ReadMyKAD(int, int, uint8_t* c, uint8_t*) override { return Card(c); }
    int ReadMyKADData(int, int, uint8_t* c) override { return Card(c); }
    int ReadMyKADNoVerify(int, int, uint8_t* c, uint8_t*) override { return Card(c); }
    int ReadMyKADNoVerifyNoPhoto(int, int, uint8_t* c) override { return Card(c); }

private:
    int Done() {
        switch (thrown) {
            case Throw::kBadAlloc:
                throw std::bad_alloc();
            case Throw::kRuntimeError:
                throw std::runtime_error("reader gone");
            case Throw::kInt:
                throw 42;
            case Throw::kNothing:
                break;
        }
        return 0;
    }
    int Fill(uint8_t* out, size_t count, uint8_t value) {
        std::memset(out, value, count);
        return Done();
    }
    int Card(uint8_t* card) {
        card[0] = '0';  // a MyKad, so the record is formed
        std::memset(card + 1, 'M', 300);
        return Done();
    }
};

class FakeServices : public ICallServices {
public:
    explicit FakeServices(CommandContext& context) : context_(context) {}
    int asked = 0;
    bool fails = false;
    CommandContext& Context() override {
        ++asked;
        if (fails) throw std::bad_alloc();
        return context_;
    }

private:
    CommandContext& context_;
};

class CallBarrierTest : public ::testing::Test {
protected:
    FakeFileSystem files;
    FakeProfile profile;
    FakeHostAddress host;
    ScriptedRunners runners;
    IniLocator locator{files};
    MyKadReplyRig record{".\\QUILLON.ini"};
    CommandContext context{locator, profile, host, runners, nullptr, &record.reply};
    FakeServices services{context};
    std::vector<char> reply = std::vector<char>(1 << 16, '\0');

    int Send(const std::string& request, const char* code = "QLN26") {
        std::strcpy(reply.data(), "untouched, and longer than any barrier reply of these tests");
        record.guid.next[0] = 0x10;  // the same random block every time: identical MyKad replies
        return ProcessWebMessageGuarded(code, request.c_str(), reply.data(), services);
    }
    std::string Reply() const { return std::string(reply.data()); }
};

TEST_F(CallBarrierTest, OutOfMemoryAtEachAllocationOfACallGivesMinus1009ThenTheNextCallWorks) {
    const std::string longField(600, 'X'), cut(499, 'X');
    const std::string texts = "[0][3][ALI][KL01][OP7]";
    std::string enrolled;
    for (int i = 0; i < 598; ++i) enrolled += "AB";
    struct Case {
        std::string request;
        int code;
        std::string normal;  // empty: a MyKad record, compared with the first run's
        std::string barrier;
    };
    const Case cases[] = {
        {"[GETBRANCHCODE]", 0, "[GETBRANCHCODE][1][EMPTY][EMPTY][192.0.2.2][123]",
         "[GETBRANCHCODE][-1009][123]"},
        {"[GETSERIALNUMBER][0][3]", 0, "[GETSERIALNUMBER][0][SN-0042][123]",
         "[GETSERIALNUMBER][-1009][123]"},
        {"[GETFIRMWAREVERSION][1][3]", 0, "[GETFIRMWAREVERSION][0][KEDAI ZETA][123]",
         "[GETFIRMWAREVERSION][-1009][123]"},
        {"[ENROLL][1][3]", 0, "[ENROLL][0][" + enrolled + "][123]", "[ENROLL][-1009][123]"},
        {"[GETSIGNATURE][1][3]", 0, "[GETSIGNATURE][0][00017F][123]", "[GETSIGNATURE][-1009][123]"},
        {"[VERIFY2F][0][3][00]", 0, "[VERIFY2F][0][123]", "[VERIFY2F][-1009][123]"},
        {"[SETDATETIME][3][260101120000]", 0, "[SETDATETIME][0][123]", "[SETDATETIME][-1009][123]"},
        {"[READMYKADNOPHOTO]" + texts, 0, "", "[READMYKADNOPHOTO][-1009][123]"},
        {"[READMYKAD]" + texts, 0, "", "[READMYKAD][-1009][123]"},
        {"[VERIFY][0][3][00]", 0, "[VERIFY][0][123]", "[VERIFY][-1009][123]"},
        {"[PING]", -1007, "[PING][-1007][123]", "[PING][-1009][123]"},
        {"[" + longField + "]", -1007, "[" + cut + "][-1007][123]", "[" + cut + "][-1009][123]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request.substr(0, 40));
        Send(c.request);  // settles what a first call caches (the settings path)
        int code = 0;
        const long total = AllocationsIn([&] { code = Send(c.request); });
        const std::string normal = c.normal.empty() ? Reply() : c.normal;
        ASSERT_EQ(code, c.code);
        ASSERT_EQ(Reply(), normal);
        if (c.normal.empty()) {
            const std::string head = c.request.substr(0, c.request.find(']') + 1) + "[0][0][";
            ASSERT_EQ(normal.substr(0, head.size()), head) << "a MyKad card's record reply";
        }
        ASSERT_GT(total, 0) << "a call that allocates nothing cannot run out of memory";
        for (long n = 0; n < total; ++n) {
            int failed = 0;
            AllocationsIn([&] { failed = Send(c.request); }, n);
            EXPECT_EQ(failed, -1009) << "allocation " << n + 1 << " of " << total << " failed";
            EXPECT_EQ(Reply(), c.barrier);
            EXPECT_EQ(Send(c.request), c.code);
            EXPECT_EQ(Reply(), normal);
        }
    }
}

TEST_F(CallBarrierTest, ServicesThatCannotBeMadeGiveMinus1009AndAreAskedAgainByTheNextCall) {
    services.fails = true;
    EXPECT_EQ(Send("[GETSERIALNUMBER][0][3]"), -1009);
    EXPECT_EQ(Reply(), "[GETSERIALNUMBER][-1009][123]");
    services.fails = false;
    EXPECT_EQ(Send("[GETSERIALNUMBER][0][3]"), 0);
    EXPECT_EQ(Reply(), "[GETSERIALNUMBER][0][SN-0042][123]");
    EXPECT_EQ(services.asked, 2);
}

TEST_F(CallBarrierTest, WrongAccessCodeMakesNoServicesAllocatesNothingAndWritesNothing) {
    const std::string request = "[READMYKAD][0][3][ALI][KL01][OP7]";
    for (const char* code : {"qln26", "QLN2", "", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(code != nullptr ? code : "(null)");
        int result = 0;
        EXPECT_EQ(AllocationsIn([&] { result = Send(request, code); }), 0);
        EXPECT_EQ(result, -9999);
        EXPECT_EQ(Reply(), "untouched, and longer than any barrier reply of these tests");
    }
    EXPECT_EQ(services.asked, 0);
}

TEST_F(CallBarrierTest, AnyExceptionFromInsideACommandGivesMinus1009AndReleasesTheCallGuard) {
    for (Throw thrown : {Throw::kBadAlloc, Throw::kRuntimeError, Throw::kInt}) {
        runners.thrown = thrown;
        EXPECT_EQ(Send("[xENROLLx][1][3]"), -1009);
        EXPECT_EQ(Reply(), "[xENROLLx][-1009][123]");
        runners.thrown = Throw::kNothing;
        EXPECT_EQ(Send("[SETDATETIME][3][0]"), 0) << "not -1008: the guard was released";
        EXPECT_EQ(Reply(), "[SETDATETIME][0][123]");
    }
}

class ThrowingLog : public ILogSink {
public:
    ThrowingLog() { SetLogSink(this); }
    ~ThrowingLog() override { SetLogSink(nullptr); }
    void Write(const std::string&) override {
        ++lines;
        throw std::bad_alloc();
    }
    int lines = 0;
};

TEST_F(CallBarrierTest, LogSinkThatThrowsLosesItsLinesNotTheCall) {
    ThrowingLog log;
    EXPECT_EQ(Send("[GETSERIALNUMBER][0][3]"), 0);
    EXPECT_EQ(Reply(), "[GETSERIALNUMBER][0][SN-0042][123]");
    EXPECT_EQ(log.lines, 2) << "\"Before Checking\" and the reply were offered";
}

TEST(WriteFieldReply, EchoesField1AsTheCommandBufferHoldsItWithTheCode) {
    const struct {
        const char* request;
        int code;
        const char* reply;
    } cases[] = {
        {"XX[P[Q]][R]", -1009, "[P[Q][-1009][123]"},  // a "[" inside field 1 is content
        {"[ENROLL", -1008, "[ENROLL][-1008][123]"},  {"no field", 0, "[][0][123]"},
        {"[A]", INT_MIN, "[A][-2147483648][123]"},   {"[A]", INT_MAX, "[A][2147483647][123]"},
        {nullptr, -1009, "[][-1009][123]"},
    };
    for (const auto& c : cases) {
        char reply[64];
        std::memset(reply, '#', sizeof reply);
        WriteFieldReply(reply, c.request, c.code);
        EXPECT_STREQ(reply, c.reply);
        EXPECT_EQ(reply[std::strlen(c.reply) + 1], '#') << "one copy, nothing past the end";
    }
    WriteFieldReply(nullptr, "[A]", 0);  // no buffer: nothing to write, no fault
}

}  // namespace
}  // namespace quillon
