// The bridge's answer to each kind of message, and one request at a time on the machine.
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

// Another bridge process holds the call while `holder` is set.
struct Lock : ICallLock {
    bool elsewhere = false;
    Holder holder;
    std::vector<std::string> log;  // "take ENROLL https://a", "give"
    bool TryTake(const Holder& mine, Holder& other) override {
        if (elsewhere) {
            other = holder;
            return false;
        }
        log.push_back("take " + mine.command + " " + mine.origin);
        return true;
    }
    void Give() override { log.push_back("give"); }
};

using Lines = std::vector<std::string>;
struct Row {
    std::string message;
    const char* answer;
};

const char kOrigin[] = R"("origin":"https://counter.bank.test")";

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
    // The call thread's side of the last job started: what Begin wrote.
    Lines Begin() {
        out.messages.clear();
        EXPECT_EQ(session.Begin(calls.started.back()), !lock.elsewhere);
        return out.messages;
    }

    Out out;
    Calls calls;
    Lock lock;
    Session session{out, calls, lock, Versions{"0.1.0", "0.1.0"}};
};

TEST_F(BridgeSession, AnswersWhatNeedsNoCallAtOnceWithThePagesIdAsItCame) {
    const Row rows[] = {
        {std::string(kMessageMax + 1, ' '),
         R"({"id":null,"error":"message too long","errorCode":"message-too-long"})"},
        {"{\"id\":1,\"request\":",
         R"({"id":null,"error":"invalid JSON","errorCode":"invalid-json"})"},
        {"{\"id\":1,\"request\":\"[PING\xE9]\"}",
         R"({"id":null,"error":"invalid JSON","errorCode":"invalid-json"})"},
        {"[1,2]",
         R"({"id":null,"error":"message is not a JSON object","errorCode":"not-an-object"})"},
        {R"({"request":"[ENROLL][1][0]"})",
         R"({"id":null,"error":"missing id","errorCode":"missing-id"})"},
        {R"({"id":null,"request":"[ENROLL][1][0]"})",
         R"({"id":null,"error":"id is not a string or a number","errorCode":"bad-id"})"},
        {R"({"id":4})",
         R"({"id":4,"error":"missing request or cmd","errorCode":"missing-request"})"},
        {R"({"id":"a","request":5})",
         R"({"id":"a","error":"request is not a string","errorCode":"request-not-a-string"})"},
        {R"({"id":5,"request":"[VERIFY][0][3]\u0000[ENROLL]",)" + std::string(kOrigin) + "}",
         R"({"id":5,"error":"request holds a NUL character","errorCode":"request-holds-nul"})"},
        {R"({"id":6,"cmd":"reboot"})",
         R"({"id":6,"error":"unknown cmd","errorCode":"unknown-cmd"})"},
        {R"({"id":7,"request":"[ENROLL][1][0]"})",
         R"({"id":7,"error":"missing origin","errorCode":"missing-origin"})"},
        {R"({"id":8,"request":"[ENROLL][1][0]","origin":["https://a.test"]})",
         R"({"id":8,"error":"missing origin","errorCode":"missing-origin"})"},
        {R"({"id":9,"request":"[ENROLL][1][0]","origin":""})",
         R"({"id":9,"error":"missing origin","errorCode":"missing-origin"})"},
        {R"({"id":2.5,"cmd":"version"})", R"({"id":2.5,"bridge":"0.1.0","dll":"0.1.0"})"},
        {R"({"id":18446744073709551615,"cmd":"version"})",
         R"({"id":18446744073709551615,"bridge":"0.1.0","dll":"0.1.0"})"},
    };
    for (const auto& r : rows) EXPECT_EQ(Send(r.message), Lines{r.answer}) << r.message;
    EXPECT_TRUE(calls.started.empty());
    EXPECT_FALSE(session.Busy());
}

TEST_F(BridgeSession, ARequestRunsAfterItsRunningAnswerAndTheOthersAreAnsweredBusyNotQueued) {
    EXPECT_EQ(Send(R"({"id":"e-1","request":"[ENROLL][1][0]",)" + std::string(kOrigin) + "}"),
              Lines{});
    ASSERT_EQ(calls.started.size(), 1u);
    EXPECT_EQ(calls.started[0].id, "e-1");
    EXPECT_EQ(calls.started[0].request, "[ENROLL][1][0]");
    EXPECT_EQ(Begin(), Lines{R"({"id":"e-1","running":true})"});
    EXPECT_EQ(lock.log, Lines{"take ENROLL https://counter.bank.test"});
    const Row during[] = {
        {R"({"id":2,"request":"[GETSERIALNUMBER][0][7]","origin":"https://other.bank.test"})",
         R"({"id":2,"code":-1008,"reply":"[GETSERIALNUMBER][-1008][123]",)"
         R"("heldBy":{"command":"ENROLL","origin":"https://counter.bank.test"}})"},
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
    EXPECT_EQ(lock.log.back(), "give");
    Send(R"({"id":6,"request":"[GETSERIALNUMBER][0][7]",)" + std::string(kOrigin) + "}");
    ASSERT_EQ(calls.started.size(), 2u);
    EXPECT_EQ(calls.started[1].id, 6);
    // Field 1 as the library cuts it.
    EXPECT_EQ(BusyReplyText("XX[" + std::string(600, 'K') + "]"),
              "[" + std::string(499, 'K') + "][-1008][123]");
}

TEST_F(BridgeSession, ACallInAnotherBridgeIsAnsweredBusyWithWhatThatBridgeShared) {
    lock.elsewhere = true;
    const struct {
        Holder shared;
        const char* heldBy;
    } rows[] = {
        {{"READMYKAD", "https://counter.bank.test", false},
         R"({"command":"READMYKAD","origin":"https://counter.bank.test","elsewhere":true})"},
        {{"", "", false}, R"({"elsewhere":true})"},
    };
    for (const auto& r : rows) {
        lock.holder = r.shared;
        Send(R"({"id":3,"request":"[ENROLL][0][7]",)" + std::string(kOrigin) + "}");
        EXPECT_EQ(Begin(),
                  Lines{R"({"id":3,"code":-1008,"reply":"[ENROLL][-1008][123]","heldBy":)" +
                        std::string(r.heldBy) + "}"});
        EXPECT_FALSE(out.busyWhenWritten.back()) << "free for the next request";
    }
    EXPECT_EQ(calls.started.size(), 2u);
    EXPECT_TRUE(lock.log.empty()) << "nothing taken, nothing given";
}

TEST(BridgeHolder, NamesTheCommandCutAtACharacterAndSharesWhatFitsWhole) {
    const std::string longOrigin = "https://" + std::string(320, 'a') + ".test";
    const struct {
        std::string request, origin;
        std::string command, shared;  // as HolderOf cuts it, and as Peek reads it back
    } rows[] = {
        // "\xC3\xA9" is one character: it is not split at byte 40.
        {"[" + std::string(39, 'Q') + "\xC3\xA9Q]", "https://a.test", std::string(39, 'Q'),
         std::string(39, 'Q') + " https://a.test"},
        {"[ENROLL]", longOrigin, "ENROLL", "ENROLL "},
    };
    for (const auto& r : rows) {
        const Holder holder = HolderOf(r.request, r.origin);
        EXPECT_EQ(holder.command, r.command) << r.request;
        SharedHolder shared{};
        Publish(shared, holder);
        Holder read;
        ASSERT_TRUE(Peek(shared, read));
        EXPECT_EQ(read.command + " " + read.origin, r.shared);
        EXPECT_TRUE(read.elsewhere);
        EXPECT_EQ(shared.sequence.load(), 2u);
    }
    SharedHolder writing{};
    writing.sequence.store(3);  // a writer is inside
    Holder untouched{"X", "Y", false};
    EXPECT_FALSE(Peek(writing, untouched));
    EXPECT_EQ(untouched.command + untouched.origin, "XY");
}

}  // namespace
}  // namespace bridge
}  // namespace quillon
