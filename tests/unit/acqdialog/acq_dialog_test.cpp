// The dialog that hosts an operation: set-up per mode, the link it opens, timers, cancel, the
// reader thread's hand-over played by hand, and the logo's layout.
#include "acqdialog/acq_dialog.h"

#include <gtest/gtest.h>

#include <sstream>

#include "acqdialog/logo_layout.h"
#include "dialog_fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

// One dialog on COM7; `rig` may be shared by dialogs run one after another.
struct Dialog {
    explicit Dialog(Mode mode, DialogRig& shared) : rig(shared), op(MakeOperation(mode)) {
        dialog.Attach(&window);
    }
    explicit Dialog(Mode mode) : Dialog(mode, own) {}
    Dialog& Start() { return started = dialog.OnInitDialog(), *this; }

    DialogRig own;
    DialogRig& rig;
    FakeWindow& window = rig.window;
    std::unique_ptr<Operation> op;
    CAcqDialog dialog{rig.env, *op, true, 7};
    bool started = false;
};

const std::string kLogo = "image C:\\WINDOWS\\system32\\mylogo.jpg";

TEST(AcqDialog, EachModeSetsItsTitleAndPromptLinesAndStartsItsOperation) {
    const struct {
        Mode mode;
        const char *title, *lines;
        const char* start;  // the window's calls after the logo
        int frameCode;      // of the one frame sent (after the button for a finger mode), 0: none
        int ret;
    } rows[] = {
        {Mode::kEnroll, "ENROLLMENT", "Performing ENROLLMENT.../", "|post 4000", 0x27, -9},
        {Mode::kVerify, "VERIFY", "Performing VERIFICATION.../Place Finger\r\nLetak jari",
         "|post 4001", 0x28, -9},
        {Mode::kSetTerminalTime, "", "/", "|close", 0x72, 0},  // after its frame was written
        {Mode::kGetSn, "", "/", "", 0x25, -9},
        {Mode::kGetSignature, "SIGNATURE", "Signature/Place Sign on the Screen", "", 0xF3, -9},
        {Mode::kMyKadNoVerify, "MYKAD", "/", "|reset cancel|reader thread", 0, -10},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(SetupFor(row.mode).name);
        Dialog t(row.mode);
        EXPECT_TRUE(t.Start().started);
        const std::string calls = Join(t.window.calls);
        if (row.mode == Mode::kEnroll) t.dialog.OnCommand(kButtonEnroll);
        if (row.mode == Mode::kVerify) t.dialog.OnCommand(kButtonVerify);
        EXPECT_EQ(t.window.title, row.title);
        EXPECT_EQ(t.window.text[kPromptLine1] + "/" + t.window.text[kPromptLine2], row.lines);
        EXPECT_EQ(calls.substr(calls.find(kLogo) + kLogo.size()), row.start);
        ASSERT_EQ(t.rig.port.frames.size(), row.frameCode ? 1u : 0u);
        EXPECT_EQ(row.frameCode ? t.rig.port.frames[0][3] : 0, row.frameCode);
        EXPECT_EQ(t.op->RetCode(), row.ret);
        EXPECT_EQ(Join(t.rig.port.calls).find("|wait write 2000") != std::string::npos,
                  row.mode == Mode::kSetTerminalTime);
    }
}

TEST(AcqDialog, ItsSettingsComeFromTheLocalFileElseSystem32WithTheirDefaultsAndBounds) {
    const std::string face = "font 20 " + std::string(50, 'F'),
                      logo = "image " + std::string(99, 'L');
    const std::string reader = "hide 4009|sockets|refresh 1|";
    const struct {
        Mode mode;
        bool local;  // every setting in .\QUILLON.ini, else none in System32
        std::string port, timers, window;
    } rows[] = {
        {Mode::kGetSn, false, "init COM7 115200 N 8 1 9 1024|monitor", "77:60000 88:5000",
         "hide 4009|font 14 Verdana|hide 1|" + kLogo},
        {Mode::kGetSn, true, "init COM7 9600 N 8 1 9 1024|monitor", "77:30000 88:2000",
         "hide 4009|" + face + "|show 1|" + logo},
        {Mode::kMyKad, false, "", "99:60000 100:250",
         reader + "font 14 Verdana|hide 1|" + kLogo + "|reset cancel|reader thread"},
        {Mode::kMyKad, true, "", "99:45000 100:250",
         reader + face + "|show 1|" + logo + "|reset cancel|reader thread"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.local);
        DialogRig rig;
        const std::string path = ".\\QUILLON.ini";
        const char* settings[][3] = {
            {"COMPORT", "BAUDRATE", "9600x"}, {"MYKAD", "GLOBTIMEOUT", "30000"},
            {"MYKAD", "TIMEOUT", "2000"},     {"FONT", "SIZE", "20"},
            {"MISC", "CANCEL", "1"},          {"CSSSERVER", "GLOBTIMEOUT", "45000"}};
        if (row.local) {
            rig.files.files.insert(path);
            for (const auto& s : settings) rig.profile.Set(path, s[0], s[1], s[2]);
            rig.profile.Set(path, "FONT", "FACE", std::string(60, 'F'));
            rig.profile.Set(path, "IMAGE", "LOC", std::string(120, 'L'));
        }
        Dialog t(row.mode, rig);
        t.Start();
        std::string timers;
        for (const auto& timer : t.window.timers)
            timers += Format(" %d:", timer.first) + std::to_string(timer.second);
        EXPECT_EQ(Join(t.rig.port.calls), row.port);
        EXPECT_EQ(timers.substr(1), row.timers);
        EXPECT_EQ(Join(t.window.calls), row.window);
        EXPECT_EQ(t.window.text[kButtonCancel], row.local ? "Cancel" : "");
    }
}

// The prompt table holds keys and defaults; the dialog reads the bank's text over them.
TEST(AcqDialog, AnEventShowsItsTextFromTheSettingsElseItsDefault) {
    for (const bool set : {false, true}) {
        DialogRig rig;
        if (set) rig.Set("MESSAGE", "E3", "Letakkan ibu jari sekali lagi");
        Dialog t(Mode::kEnroll, rig);
        t.Start();
        const std::vector<uint8_t> event = ReplyFrame(0x94, {0, 0, 0xA5});
        t.dialog.OnTerminalReply(event.data(), int(event.size()));
        EXPECT_EQ(t.window.text[kPromptLine2], set ? "Letakkan ibu jari sekali lagi"
                                                   : "Place your thumb again\r\nSila letak ibu "
                                                     "jari semula");
    }
}

TEST(AcqDialog, AFailedPortOpenEndsWithMinus4BeforeTheSetUp) {
    Dialog failed(Mode::kGetSignature);
    failed.rig.port.opens = false;
    EXPECT_FALSE(failed.Start().started);
    EXPECT_EQ(failed.op->RetCode(), -4);
    EXPECT_EQ(failed.rig.port.calls.back(), "close port");
    EXPECT_EQ(Join(failed.window.calls), "hide 4009|kill 77|kill 88|close");
    EXPECT_TRUE(failed.rig.port.frames.empty() && failed.window.timers.empty()) << "no set-up";
}

// Plays `steps` on a dialog of the mode and returns its window's calls from the start on, with
// what the steps note ("close?": the close's answer, "ret": the result code, "timers": the
// running ones and their periods, "abandoned?": whether the dialog leaves its read behind), the
// result code, line 2 and whether a key was installed. "early" fires the reader's time-out while
// its thread starts; "nothread" fails that.
std::string Play(Mode mode, const std::string& steps) {
    Dialog t(mode);
    std::vector<std::string>& out = t.window.calls;
    t.window.startWorks = steps.find("nothread") == std::string::npos;
    t.window.duringStart = [&] {
        out.clear();
        if (steps.find("early") != std::string::npos) t.dialog.OnTimer(99);
    };
    if (!t.Start().op->Setup().readerLink) out.clear();
    std::istringstream in(steps);
    for (std::string s; in >> s;) {
        if (s[0] == 'T') t.dialog.OnTimer(std::stoi(s.substr(1)));
        if (s == "cancel") t.dialog.OnCommand(kButtonCancel);
        if (s == "close?") out.push_back(t.dialog.OnCloseRequest() ? "closes" : "refused");
        if (s == "ret") out.push_back(std::to_string(t.op->RetCode()));
        if (s == "timers") {
            std::string running = "timers";
            for (const auto& timer : t.window.timers)
                running += Format(" %d:", timer.first) + std::to_string(timer.second);
            out.push_back(running);
        }
        if (s == "result") t.window.reader->Out().retCode = -21;
        if (s == "handover") t.window.reader->HandOver();
        if (s == "fail") t.dialog.EndAfterFailure();
        if (s == "abandoned?") out.push_back(t.dialog.ReaderAbandoned() ? "abandoned" : "runs");
        const std::vector<uint8_t> reply = ReplyFrame(0x25, {0x06, 0, 1, 'Q'}),
                                   failed = ReplyFrame(0x27, {0x09, 0, 0});
        if (s == "reply") t.dialog.OnTerminalReply(reply.data(), int(reply.size()));
        if (s == "failed") t.dialog.OnTerminalReply(failed.data(), int(failed.size()));
    }
    const std::string line2 = t.window.text[kPromptLine2];
    return Join(out) + Format(" => %d", t.op->RetCode()) + (line2.empty() ? "" : " " + line2) +
           (t.rig.port.linkKey.empty() ? "" : " key");
}

TEST(AcqDialog, TimersCancelAndRepliesEndTheOperationTheirOwnWay) {
    // The reader's time-out is provisional: it neither cancels nor ends a read in progress.
    const std::string timedOut = "kill 99|close|";
    const struct {
        Mode mode;
        const char* steps;
        std::string outcome;
    } rows[] = {
        {Mode::kGetSn, "T77", "refresh 1|kill 77|wait 1000|close => -30 Timeout"},
        {Mode::kGetSn, "T88", "refresh 1|kill 88|wait 1000|close => -30 Timeout"},
        {Mode::kGetSn, "T78 T87", " => -9"},
        // A terminal error in an enrolment leaves the dialog open: its time-out ends it, -30.
        {Mode::kEnroll, "failed ret T77",
         "refresh 11|-3|refresh 1|kill 77|wait 1000|close => -30 Timeout"},
        {Mode::kMyKad, "T99 close?", "kill 99|close|refused => -30"},
        // Cancel only signals: a terminal operation runs on. Replies repaint both lines.
        {Mode::kGetSn, "cancel close? reply",
         "disable 1|cancel event|closes|refresh 11|close => 0"},
        // Wherever the time-out lands, a result that was handed over is the one the read ends
        // with; a close before the hand-over is refused.
        {Mode::kMyKad, "result close? handover ret close?",
         "refused|thread close|-10|closes => -21"},
        {Mode::kMyKad, "early result close? handover ret close?",
         timedOut + "refused|thread close|-30|closes => -21"},
        {Mode::kMyKad, "result T99 close? handover ret close?",
         timedOut + "refused|thread close|-30|closes => -21"},
        {Mode::kMyKad, "result close? handover T99 ret close?",
         "refused|thread close|kill 99|close|-30|closes => -21"},
        // A close lost on its way: the watch takes the result a tick later and closes.
        {Mode::kMyKad, "result handover T100 ret T100 close?",
         "thread close|-10|close|closes => -21"},
        {Mode::kMyKad, "fail close? abandoned?", "closes|abandoned => -1009"},
        {Mode::kGetSn, "abandoned?", "runs => -9"},  // a terminal dialog holds no read
        // No thread: the call ends at once, not at the time-out.
        {Mode::kMyKad, "nothread timers close?", "kill 100|close|timers 99:60000|closes => -1009"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Play(row.mode, row.steps), row.outcome) << row.steps;
    }
}

}  // namespace
}  // namespace quillon
