// The reader thread's whole run, played on the test's thread against a dialog. A read left
// behind runs on after its dialog was destroyed: under AddressSanitizer any touch of it fails.
#include "acqdialog/reader_thread.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>

#include "acqdialog/acq_dialog.h"
#include "dialog_fakes.h"

namespace quillon {
namespace {

using namespace testing_support;

TEST(ReaderThread, HandsItsResultToTheDialogUnlessLeftBehindAndAlwaysFreesTheSession) {
    enum Run { kRead, kMyKid, kThrows, kLeftBehind };
    const std::string start = "Init(4) FW(2000) CS(1,2000) Reset ReadData ",
                      all = start + "IsEBA Photo Bio(DUV) L4 Verify(DUV) Close";
    const struct {
        Run run;
        int result, ret;  // returned by the thread, and the dialog's
        std::string calls;
    } rows[] = {
        {kRead, 0, 0, all},
        {kMyKid, 0, 0, start + "Close"},
        // Out of memory on the thread: the reader is closed and the failure handed over.
        {kThrows, -1009, -1009, start + "IsEBA Photo Close"},
        // Timed out and given up during the photo: what the thread does once back reaches
        // neither the dialog nor the link key.
        {kLeftBehind, 0, -30, all},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.run);
        DialogRig rig;
        FakeCardReader library;
        FakeClock clock;
        CardReadOperation op(Mode::kMyKad);
        std::unique_ptr<CAcqDialog> dialog(new CAcqDialog(rig.env, op, true, 4));
        library.promptCodes = {0xA3};
        if (row.run == kMyKid) library.defaults["ReadData"] = kOrvMyKidRecord;
        library.hook = [&](const std::string& name, int, int answer) {
            if (name == "Photo" && row.run == kThrows) throw std::bad_alloc();
            if (name == "Photo" && row.run == kLeftBehind) {
                dialog->OnTimer(kTimerReader);
                dialog->OnTimer(kTimerReaderGrace);
                EXPECT_TRUE(dialog->OnCancel());
                dialog.reset();
                // The library is not entered twice: a read meanwhile is refused at once.
                CardReadOperation next(Mode::kMyKad);
                CAcqDialog second(rig.env, next, true, 4);
                second.Attach(&rig.window);
                second.OnInitDialog();
                EXPECT_EQ(next.RetCode(), -1008);
                rig.window.calls.clear();
            }
            return answer;
        };
        dialog->Attach(&rig.window);
        dialog->OnInitDialog();
        ReaderSession& thread = *rig.window.reader;
        rig.window.reader = nullptr;  // the run gives up the thread's hold itself
        EXPECT_EQ(RunReaderThread(thread, library, clock), row.result);
        EXPECT_EQ(library.Calls(), row.calls);
        const std::string calls = Join(rig.window.calls);
        if (dialog != nullptr) {
            EXPECT_EQ(calls.substr(calls.size() - 12), "thread close");
            EXPECT_TRUE(dialog->OnCancel());
            dialog.reset();
        }
        EXPECT_EQ(calls.empty(), row.run == kLeftBehind);
        EXPECT_EQ(calls.find("Pengesahan MyKad berjaya") != std::string::npos, row.run == kRead);
        EXPECT_EQ(TestPromptCode(0xA3), 1);
        EXPECT_EQ(Join(rig.window.calls), calls) << "no prompt once the run has ended";
        EXPECT_EQ(rig.readers.Live(), 0) << "the last owner freed the session";
        EXPECT_EQ(op.RetCode(), row.ret);
        EXPECT_EQ(op.Result().photo, std::string(row.run == kRead ? 4000 : 0, 0x5C));
        EXPECT_EQ(rig.port.linkKey.empty() ? 0 : rig.port.linkKey[0], row.run != kLeftBehind);
        EXPECT_EQ(op.Result().fullRecord, row.run == kMyKid ? 0 : 1);
        EXPECT_EQ(op.Result().altDataLength, row.run == kMyKid ? 120 : 0);
        EXPECT_EQ(op.Result().altData[119], row.run == kMyKid ? 0x41 : 0);
    }
}

}  // namespace
}  // namespace quillon
