// The reader thread's whole run, played on the test's thread against a dialog. A read left
// behind runs on after its dialog was destroyed: under AddressSanitizer any touch of it fails.
#include "acqdialog/reader_thread.h"

#include <gtest/gtest.h>

#include <new>

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
        int result;                 // returned by the thread
        std::string calls, dialog;  // the library's, and what the dialog ends with
    } rows[] = {
        {kRead, 0, all, "ret 0 key 1 full 1 open 120 alt 0/0 photo 4000"},
        {kMyKid, 0, start + "Close", "ret 0 key 1 full 0 open 0 alt 120/65 photo 0"},
        // Out of memory on the thread: the reader is closed and the failure handed over.
        {kThrows, -1009, start + "IsEBA Photo Close",
         "ret -1009 key 1 full 1 open 0 alt 0/0 photo 0"},
        // Timed out and given up during the photo: what the thread does once back reaches
        // neither the dialog nor the link key.
        {kLeftBehind, 0, all, "ret -30 key 0 full 1 open 0 alt 0/0 photo 0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.run);
        DialogRig rig;
        FakeCardReader library;
        FakeClock clock;
        CardReadOperation op(Mode::kMyKad);
        std::unique_ptr<CAcqDialog> dialog(new CAcqDialog(rig.env, op, true, 4));
        // A code without a prompt only repaints; a text read is cut to 99 characters.
        library.promptCodes = {0xA9, 0xA4, 0xA3};
        rig.Set("MESSAGE", "M5", std::string(100, 'm'));
        if (row.run == kMyKid) library.defaults["ReadData"] = 9999;  // a MyKid
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
        const std::string prompts = "thread refresh|thread refresh|thread line 4004 " +
                                    std::string(99, 'm') + "|thread refresh|thread line 4004 " +
                                    "MyKad verification completed successfully\r\n" +
                                    "Pengesahan MyKad berjaya|";
        EXPECT_EQ(calls.find(prompts) != std::string::npos, row.run == kRead);
        EXPECT_EQ(TestPromptCode(0xA3), 1);
        EXPECT_EQ(Join(rig.window.calls), calls) << "no prompt once the run has ended";
        EXPECT_EQ(rig.readers.Live(), 0) << "the last owner freed the session";
        const ReaderResult& r = op.Result();
        EXPECT_EQ(Format("ret %d key %d full %d open %d alt %d/%d photo ", op.RetCode(),
                         rig.port.linkKey.empty() ? 0 : rig.port.linkKey[0], r.fullRecord,
                         r.openDataLength, r.altDataLength, r.altData[119]) +
                      std::to_string(r.photo.size()),
                  row.dialog);
        EXPECT_EQ(r.photo.find_first_not_of('\x5C'), std::string::npos);
    }
}

}  // namespace
}  // namespace quillon
