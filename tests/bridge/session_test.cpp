// The bridge's answers to every kind of message, and the rule of one request at a time: a fake
// call thread keeps the job until the test finishes it.
#include "session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillon {
namespace bridge {
namespace {

struct Out : IFrameOut {
    Session* session = nullptr;
    std::vector<std::string> messages;
    std::vector<bool> busyWhenWritten;
    void Write(const std::string& frame) override {
        FrameDecoder decoder;
        std::vector<FrameEvent> events;
        decoder.Feed(frame.data(), frame.size(), events);
        ASSERT_EQ(events.size(), 1u) << "one whole frame per write";
        ASSERT_FALSE(decoder.MidMessage());
        messages.push_back(events[0].payload);
        busyWhenWritten.push_back(session->Busy());
    }
};

struct Calls : ICallThread {
    std::vector<Job> started;
    void Start(Job job) override { started.push_back(std::move(job)); }
};

class BridgeSession : public ::testing::Test {
  protected:
    explicit BridgeSession(Versions versions = {"0.1.0", "0.1.0"})
        : session(out, calls, std::move(versions)) {
        out.session = &session;
    }
    // Sends one message; returns what the bridge wrote for it (empty: nothing yet).
    std::vector<std::string> Send(const std::string& message) {
        out.messages.clear();
        const std::string frame = EncodeFrame(message);
        session.Receive(frame.data(), frame.size());
        return out.messages;
    }
    using Lines = std::vector<std::string>;

    Out out;
    Calls calls;
    Session session;
};

TEST_F(BridgeSession, BadInputGetsAnErrorObjectAndStartsNothing) {
    const struct {
        std::string message;
        const char* answer;
    } cases[] = {
        {"", R"({"id":null,"error":"invalid JSON"})"},
        {"{\"id\":1,\"request\":", R"({"id":null,"error":"invalid JSON"})"},
        {"{\"id\":1,\"request\":\"[PING\xE9]\"}", R"({"id":null,"error":"invalid JSON"})"},
        {"[1,2]", R"({"id":null,"error":"message is not a JSON object"})"},
        {"\"[ENROLL][1][0]\"", R"({"id":null,"error":"message is not a JSON object"})"},
        {R"({"request":"[ENROLL][1][0]"})", R"({"id":null,"error":"missing id"})"},
        {R"({"id":null,"request":"[ENROLL][1][0]"})",
         R"({"id":null,"error":"id is not a string or a number"})"},
        {R"({"id":{"n":1},"cmd":"version"})",
         R"({"id":null,"error":"id is not a string or a number"})"},
        {R"({"id":4})", R"({"id":4,"error":"missing request or cmd"})"},
        {R"({"id":"a","request":5})", R"({"id":"a","error":"request is not a string"})"},
        {R"({"id":"a","request":["[ENROLL]"]})", R"({"id":"a","error":"request is not a string"})"},
        {R"({"id":"a","request":null})", R"({"id":"a","error":"request is not a string"})"},
        {R"({"id":5,"request":"[VERIFY][0][3]\u0000[ENROLL]"})",
         R"({"id":5,"error":"request holds a NUL character"})"},
        {R"({"id":6,"cmd":"reboot"})", R"({"id":6,"error":"unknown cmd"})"},
        {R"({"id":6,"cmd":1})", R"({"id":6,"error":"unknown cmd"})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Send(c.message), Lines{c.answer}) << c.message;
    }
    EXPECT_TRUE(calls.started.empty());
    EXPECT_FALSE(session.Busy());
    // And the bridge still works.
    EXPECT_EQ(Send(R"({"id":7,"request":"[GETBRANCHCODE]"})"), Lines{});
    ASSERT_EQ(calls.started.size(), 1u);
}

TEST_F(BridgeSession, ARequestRunsOnTheCallThreadAndItsReplyCarriesThePagesId) {
    EXPECT_EQ(Send(R"({"id":"e-1","request":"[ENROLL][1][0]"})"), Lines{});
    ASSERT_EQ(calls.started.size(), 1u);
    EXPECT_EQ(calls.started[0].id, "e-1");
    EXPECT_EQ(calls.started[0].request, "[ENROLL][1][0]");
    EXPECT_TRUE(session.Busy());

    session.Finish(calls.started[0].id, 0, "[ENROLL][0][1D66AF][123]");
    EXPECT_EQ(out.messages, Lines{R"({"id":"e-1","code":0,"reply":"[ENROLL][0][1D66AF][123]"})"});
    EXPECT_EQ(out.busyWhenWritten, std::vector<bool>{false}) << "free before the reply goes out";
}

TEST_F(BridgeSession, ARequestWhileOneRunsIsAnsweredBusyAtOnceAndNotQueued) {
    Send(R"({"id":1,"request":"[ENROLL][1][0]"})");
    const struct {
        const char* message;
        const char* answer;
    } during[] = {
        {R"({"id":2,"request":"[GETSERIALNUMBER][0][7]"})",
         R"({"id":2,"code":-1008,"reply":"[GETSERIALNUMBER][-1008][123]"})"},
        {R"({"id":3,"request":"XX[ENROLL2][1][3]"})",
         R"({"id":3,"code":-1008,"reply":"[ENROLL2][-1008][123]"})"},
        {R"({"id":4,"request":""})", R"({"id":4,"code":-1008,"reply":"[][-1008][123]"})"},
        // Version and errors need no call: they are answered as ever.
        {R"({"id":5,"cmd":"version"})", R"({"id":5,"bridge":"0.1.0","dll":"0.1.0"})"},
        {"{", R"({"id":null,"error":"invalid JSON"})"},
    };
    for (const auto& d : during) EXPECT_EQ(Send(d.message), Lines{d.answer}) << d.message;
    EXPECT_EQ(calls.started.size(), 1u);

    session.Finish(1, -30, "[ENROLL][-30][123]");
    EXPECT_EQ(out.messages.back(), R"({"id":1,"code":-30,"reply":"[ENROLL][-30][123]"})");
    Send(R"({"id":6,"request":"[GETSERIALNUMBER][0][7]"})");
    ASSERT_EQ(calls.started.size(), 2u) << "free again once the reply is out";
    EXPECT_EQ(calls.started[1].id, 6);
}

TEST(BridgeBusyReply, NamesField1AsTheLibraryCutsIt) {
    const struct {
        std::string request;
        std::string reply;
    } cases[] = {
        {"[ENROLL][1][0]", "[ENROLL][-1008][123]"},
        {"[P[Q]][R]", "[P[Q][-1008][123]"},
        {"[READMYKAD", "[READMYKAD][-1008][123]"},
        {"no brackets", "[][-1008][123]"},
        {"[" + std::string(600, 'K') + "]", "[" + std::string(499, 'K') + "][-1008][123]"},
    };
    for (const auto& c : cases) EXPECT_EQ(BusyReplyText(c.request), c.reply) << c.request;
}

TEST_F(BridgeSession, KeepsThePagesIdAsItCame) {
    const struct {
        const char* message;
        const char* answer;
    } cases[] = {
        {R"({"id":"v","cmd":"version"})", R"({"id":"v","bridge":"0.1.0","dll":"0.1.0"})"},
        {R"({"id":-12,"cmd":"version"})", R"({"id":-12,"bridge":"0.1.0","dll":"0.1.0"})"},
        {R"({"id":2.5,"cmd":"version"})", R"({"id":2.5,"bridge":"0.1.0","dll":"0.1.0"})"},
        {R"({"id":18446744073709551615,"cmd":"version"})",
         R"({"id":18446744073709551615,"bridge":"0.1.0","dll":"0.1.0"})"},
        {R"({"cmd":"version","id":"\u00e9t\u00e9"})",
         "{\"id\":\"\xC3\xA9t\xC3\xA9\",\"bridge\":\"0.1.0\",\"dll\":\"0.1.0\"}"},
    };
    for (const auto& c : cases) EXPECT_EQ(Send(c.message), Lines{c.answer}) << c.message;
}

TEST_F(BridgeSession, AReplyByteThatIsNotUtf8GoesOutAsTheReplacementCharacter) {
    Send(R"({"id":1,"request":"[GETBRANCHCODE]"})");
    // A branch name from a settings file in a Windows code page.
    session.Finish(1, 0, "[GETBRANCHCODE][0][KL9][Caf\xE9 Sentral][192.0.2.2][123]");
    EXPECT_EQ(out.messages, Lines{"{\"id\":1,\"code\":0,\"reply\":\"[GETBRANCHCODE][0][KL9][Caf"
                                  "\xEF\xBF\xBD Sentral][192.0.2.2][123]\"}"});
}

TEST_F(BridgeSession, AnOverLongMessageIsRefusedAndTheNextOneAnswered) {
    std::string input = EncodeFrame(std::string(kMessageMax + 1, ' '));
    input += EncodeFrame(R"({"id":9,"cmd":"version"})");
    // The longest accepted: a version request padded with blanks to the limit.
    std::string padded = R"({"id":10,"cmd":"version"})";
    padded += std::string(kMessageMax - padded.size(), ' ');
    input += EncodeFrame(padded);
    session.Receive(input.data(), input.size());
    EXPECT_EQ(out.messages, (Lines{R"({"id":null,"error":"message too long"})",
                                   R"({"id":9,"bridge":"0.1.0","dll":"0.1.0"})",
                                   R"({"id":10,"bridge":"0.1.0","dll":"0.1.0"})"}));
}

class BridgeWithoutLibrary : public BridgeSession {
  protected:
    BridgeWithoutLibrary() : BridgeSession(Versions{"0.1.0", ""}) {}
};

TEST_F(BridgeWithoutLibrary, SaysSoForRequestsAndVersion) {
    EXPECT_EQ(Send(R"({"id":1,"cmd":"version"})"),
              Lines{R"({"id":1,"bridge":"0.1.0","dll":null})"});
    EXPECT_EQ(Send(R"({"id":2,"request":"[ENROLL][1][0]"})"),
              Lines{R"({"id":2,"error":"quillon.dll is not loaded"})"});
    EXPECT_TRUE(calls.started.empty());
    EXPECT_FALSE(session.Busy());
}

}  // namespace
}  // namespace bridge
}  // namespace quillon
