// Nothing thrown inside a call leaves it: each allocation of a call fails in turn, and each time
// the call answers -1009 with the barrier reply and the next call its normal reply.
#include "command/call_barrier.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "counting_allocator.h"
#include "mykad_fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

// The fixture is the call's services too: it counts how often they are asked for.
class CallBarrierTest : public ::testing::Test, public ICallServices {
  protected:
    MyKadReplyRig record{".\\QUILLON.ini"};  // its settings, locator and host serve the call too
    CommandRig rig{record.locator, record.profile, record.host, &record.reply};
    ScriptedRunners& runners = rig.runners;
    CommandContext& context = rig.context;
    std::vector<char> reply = std::vector<char>(1 << 16, '\0');
    int asked = 0;
    CallBarrierTest() { runners.signature = {0x00, 0x01, 0x7F}, runners.signatureCount = 3; }
    std::function<void()> servicesFail;  // throws when the services cannot be made

    CommandContext& Context() override {
        ++asked;
        if (servicesFail) servicesFail();
        return context;
    }

    int Send(const std::string& request, const char* code = "QLN26") {
        std::strcpy(reply.data(), "untouched, and longer than any barrier reply of these tests");
        record.guid.next[0] = 0x10;  // the same random block every time: identical MyKad replies
        return ProcessWebMessageGuarded(code, request.c_str(), reply.data(), *this);
    }
    std::string Reply() const { return std::string(reply.data()); }
};

TEST_F(CallBarrierTest, OutOfMemoryAtEachAllocationOfACallGivesMinus1009ThenTheNextCallWorks) {
    const std::string texts = "[0][3][UJI][KL01][OP7]";
    const struct {
        std::string request;
        int code;
        std::string normal;  // how the normal reply starts; the barrier reply echoes its field 1
    } cases[] = {
        {"[GETBRANCHCODE]", 0, "[GETBRANCHCODE][1][EMPTY][EMPTY][192.0.2.2][123]"},
        {"[ENROLL][1][3]", 0, "[ENROLL][0][ABABABAB"},
        {"[GETSIGNATURE][1][3]", 0, "[GETSIGNATURE][0][00017F][123]"},
        {"[VERIFY2F][0][3][00]", 0, "[VERIFY2F][0][123]"},
        {"[READMYKAD]" + texts, 0, "[READMYKAD][0][0]["},  // a card's record
        {"[" + std::string(600, 'X') + "]", -1007, "[" + std::string(499, 'X') + "][-1007][123]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.substr(0, 40));
        Send(c.request);  // settles what a first call caches (the settings path)
        int code = 0;
        const long total = AllocationsIn([&] { code = Send(c.request); });
        const std::string normal = Reply();
        const std::string barrier = c.normal.substr(0, c.normal.find(']') + 1) + "[-1009][123]";
        ASSERT_EQ(code, c.code);
        ASSERT_EQ(normal.compare(0, c.normal.size(), c.normal), 0) << normal.substr(0, 60);
        ASSERT_GT(total, 0) << "a call that allocates nothing cannot run out of memory";
        for (long n = 0; n < total; ++n) {
            int failed = 0;
            AllocationsIn([&] { failed = Send(c.request); }, n);
            EXPECT_EQ(failed, -1009) << "allocation " << n + 1 << " of " << total << " failed";
            EXPECT_EQ(Reply(), barrier);
            EXPECT_EQ(Send(c.request), c.code);
            EXPECT_EQ(Reply(), normal);
        }
    }
}

TEST_F(CallBarrierTest, WrongAccessCodeMakesNoServicesAllocatesNothingAndWritesNothing) {
    const std::string request = "[READMYKAD][0][3][UJI][KL01][OP7]";
    for (const char* code : {"QLN2", static_cast<const char*>(nullptr)}) {
        int result = 0;
        EXPECT_EQ(AllocationsIn([&] { result = Send(request, code); }), 0);
        EXPECT_EQ(result, -9999);
        EXPECT_EQ(Reply(), "untouched, and longer than any barrier reply of these tests");
    }
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(Send("[PING]", "QLN26 and more"), -1007) << "only five bytes are compared";
}

// An exception from the services or a command ends the call; from the log sink, only its line.
TEST_F(CallBarrierTest, AnyExceptionGivesMinus1009AndTheNextCallWorksButALogSinkOnlyLosesALine) {
    const std::function<void()> throwers[] = {[] { throw std::runtime_error("reader gone"); },
                                              [] { throw 42; }};
    for (const auto& thrower : throwers) {
        for (std::function<void()>* from : {&servicesFail, &runners.during}) {
            *from = thrower;
            EXPECT_EQ(Send("[xENROLLx][1][3]"), -1009);
            EXPECT_EQ(Reply(), "[xENROLLx][-1009][123]");
            *from = nullptr;
            EXPECT_EQ(Send("[SETDATETIME][3][0]"), 0) << "not -1008: the guard was released";
            EXPECT_EQ(Reply(), "[SETDATETIME][0][123]");
        }
    }
    struct ThrowingLog : ILogSink {
        int lines = 0;
        void Write(const std::string&) override {
            ++lines;
            throw std::bad_alloc();
        }
    } log;
    SetLogSink(&log);
    EXPECT_EQ(Send("[GETBRANCHCODE]"), 0);
    SetLogSink(nullptr);
    EXPECT_EQ(Reply(), "[GETBRANCHCODE][1][EMPTY][EMPTY][192.0.2.2][123]");
    EXPECT_EQ(log.lines, 3) << "a text line, a built line and the reply were offered";
}

TEST(WriteFieldReply, EchoesField1AsTheCommandBufferHoldsItWithTheCode) {
    const struct {
        const char* request;
        int code;
        const char* reply;
    } cases[] = {
        {"XX[P[Q]][R]", -1009, "[P[Q][-1009][123]"},  // a "[" inside field 1 is content
        {"no field", 0, "[][0][123]"},
        {"[A]", INT_MIN, "[A][-2147483648][123]"},
        {"[A]", INT_MAX, "[A][2147483647][123]"},
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
