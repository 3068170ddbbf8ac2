// The bridge's answer to each kind of message, and one request at a time.
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
        EXPECT_EQ(frame.substr(0, 4), EncodeFrame(frame.substr(4)).substr(0, 4));
        messages.push_back(frame.substr(4));
        busyWhenWritten.push_back(session->Busy());
    }
};

struct Calls : ICallThread {
    std::vector<Job> started;
    void Start(Job job) override { started.push_back(std::move(job)); }
};

using Lines = std::vector<std::string>;
struct Row {
    std::string message;
    const char* answer;
};

class BridgeSession : public ::testing::Test {
  protected:
    BridgeSession() { out.session = &session; }
    // Sends one message; returns what the bridge wrote for it (empty: nothing yet).
    Lines Send(const std::string& message) {
        out.messages.clear();
        const std::string frame = EncodeFrame(message);
        session.Receive(frame.data(), frame.size());
        return out.messages;
    }

    Out out;
    Calls calls;
    Session session{out, calls, Versions{"0.1.0", "0.1.0"}};
};

TEST_F(BridgeSession, AnswersWhatNeedsNoCallAtOnceWithThePagesIdAsItCame) {
    const Row rows[] = {
        {std::string(kMessageMax + 1, ' '), R"({"id":null,"error":"message too long"})"},
        {"{\"id\":1,\"request\":", R"({"id":null,"error":"invalid JSON"})"},
        {"{\"id\":1,\"request\":\"[PING\xE9]\"}", R"({"id":null,"error":"invalid JSON"})"},
        {"[1,2]", R"({"id":null,"error":"message is not a JSON object"})"},
        {R"({"request":"[ENROLL][1][0]"})", R"({"id":null,"error":"missing id"})"},
        {R"({"id":null,"request":"[ENROLL][1][0]"})",
         R"({"id":null,"error":"id is not a string or a number"})"},
        {R"({"id":4})", R"({"id":4,"error":"missing request or cmd"})"},
        {R"({"id":"a","request":5})", R"({"id":"a","error":"request is not a string"})"},
        {R"({"id":5,"request":"[VERIFY][0][3]\u0000[ENROLL]"})",
         R"({"id":5,"error":"request holds a NUL character"})"},
        {R"({"id":6,"cmd":"reboot"})", R"({"id":6,"error":"unknown cmd"})"},
        {R"({"id":2.5,"cmd":"version"})", R"({"id":2.5,"bridge":"0.1.0","dll":"0.1.0"})"},
        {R"({"id":18446744073709551615,"cmd":"version"})",
         R"({"id":18446744073709551615,"bridge":"0.1.0","dll":"0.1.0"})"},
    };
    for (const auto& r : rows) EXPECT_EQ(Send(r.message), Lines{r.answer}) << r.message;
    EXPECT_TRUE(calls.started.empty());
    EXPECT_FALSE(session.Busy());
}

TEST_F(BridgeSession, OneRequestRunsAtATimeAndTheOthersAreAnsweredBusyNotQueued) {
    EXPECT_EQ(Send(R"({"id":"e-1","request":"[ENROLL][1][0]"})"), Lines{});
    ASSERT_EQ(calls.started.size(), 1u);
    EXPECT_EQ(calls.started[0].id, "e-1");
    EXPECT_EQ(calls.started[0].request, "[ENROLL][1][0]");
    const Row during[] = {
        {R"({"id":2,"request":"[GETSERIALNUMBER][0][7]"})",
         R"({"id":2,"code":-1008,"reply":"[GETSERIALNUMBER][-1008][123]"})"},
        {R"({"id":5,"cmd":"version"})", R"({"id":5,"bridge":"0.1.0","dll":"0.1.0"})"},
    };
    for (const auto& d : during) EXPECT_EQ(Send(d.message), Lines{d.answer}) << d.message;
    EXPECT_EQ(calls.started.size(), 1u);
    out.messages.clear();
    // A reply byte that is not UTF-8 (a text in a Windows code page) goes out as U+FFFD.
    session.Finish("e-1", -30, "[ENROLL][-30][Caf\xE9][123]");
    EXPECT_EQ(
        out.messages,
        Lines{"{\"id\":\"e-1\",\"code\":-30,\"reply\":\"[ENROLL][-30][Caf\xEF\xBF\xBD][123]\"}"});
    EXPECT_FALSE(out.busyWhenWritten.back()) << "free before the reply goes out";
    Send(R"({"id":6,"request":"[GETSERIALNUMBER][0][7]"})");
    ASSERT_EQ(calls.started.size(), 2u);
    EXPECT_EQ(calls.started[1].id, 6);
    // Field 1 as the library cuts it.
    EXPECT_EQ(BusyReplyText("XX[" + std::string(600, 'K') + "]"),
              "[" + std::string(499, 'K') + "][-1008][123]");
}

}  // namespace
}  // namespace bridge
}  // namespace quillon
