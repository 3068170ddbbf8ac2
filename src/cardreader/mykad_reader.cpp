#include "cardreader/mykad_reader.h"

#include <cstring>

#include "foundation/log.h"
#include "foundation/setting_table.h"

namespace quillon {

namespace {

const char kLineMyKad[] = "Pengesahan MyKad";
const char kLineEba[] = "Pengesahan EBA MyKad";
const char kLineOld[] = "Pengesahan OLD MyKad";

class ReaderRun {
  public:
    explicit ReaderRun(MyKadReaderParts& parts)
        : lib_(parts.library),
          dialog_(parts.dialog),
          profile_(parts.profile),
          clock_(parts.clock),
          promptRoutine_(parts.promptRoutine),
          path_(parts.dialog.SettingsPath()),
          plan_(parts.dialog.Plan()) {}

    int Run();

  private:
    // Read on every use: a change to the file takes effect at the next read.
    int Number(Setting id) { return ReadSetting(profile_, path_, id); }

    void ShowPrompt(int n, const char* line1Key, const char* line1Default,
                    const char* line2Default) {
        dialog_.RefreshPromptLines();
        const std::string line1 =
            profile_.ReadString(path_, "MESSAGE", line1Key, line1Default, kPromptTextSize);
        dialog_.SetPromptLine(1, line1);
        WriteLog(line1);
        const std::string key2 = Format("EBA_M%d_L2", n);
        const std::string line2 =
            profile_.ReadString(path_, "MESSAGE", key2.c_str(), line2Default, kPromptTextSize);
        dialog_.SetPromptLine(2, line2);
        WriteLog(line2);
    }

    // A prompt whose line 1 is the same for every card.
    void Prompt(int n, const char* line1Default, const char* line2Default) {
        ShowPrompt(n, Format("EBA_M%d_L1", n).c_str(), line1Default, line2Default);
    }

    // A prompt whose line 1 names the card kind: EBA_Mn_L1 or, for an older card, EBA_Mn.1_L1.
    void CardPrompt(int n, const char* line2Default) {
        if (eba_) {
            ShowPrompt(n, Format("EBA_M%d_L1", n).c_str(), kLineEba, line2Default);
        } else {
            ShowPrompt(n, Format("EBA_M%d.1_L1", n).c_str(), kLineOld, line2Default);
        }
    }

    bool Cancelled() { return dialog_.CancelCode() == kResultCancelled; }

    int Init() {
        const int result = lib_.OrvMyKadInit(dialog_.ComPort());
        WriteLog(Format("Init : %d", result));
        return result;
    }

    // Returns 0 when the card wait may start, else the thread's result.
    int AskVersion();
    // Returns 0 when a card is present, else the thread's result.
    int WaitForCard();
    // From the card's reset to the end of the fingerprint step; returns the last result.
    int ReadCard(bool& mykid);
    int VerifyFinger();
    void SucceedCopy();

    ICardReaderLibrary& lib_;
    IMyKadDialog& dialog_;
    IProfile& profile_;
    IClock& clock_;
    MyKadPromptRoutine promptRoutine_;
    const std::string path_;
    const MyKadReadPlan plan_;

    bool eba_ = false;
    char version_[kOrvVersionSize] = {0};
    uint8_t keyArea_[kOrvKeyAreaSize] = {0};
    uint8_t reset_[kOrvResetSize] = {0};
    uint8_t record_[kOrvRecordSize] = {0};
    int32_t recordLength_ = 0;
    uint8_t photo_[kOrvPhotoSize] = {0};
    char application_[kOrvApplicationSize] = {'D', 'U', 'V'};
};

int ReaderRun::AskVersion() {
    int retries = 0;
    for (;;) {
        const int fw =
            lib_.OrvMyKadGetFirmwareVersion(Number(Setting::kVersionTimeout), version_, keyArea_);
        WriteLog(Format("FW : %d", fw));
        if (fw == kOrvOk) {
            dialog_.SetLinkKey(keyArea_);
            return 0;
        }
        if (fw == kOrvCardStillInserted) {
            Prompt(14, kLineMyKad, "Please remove MyKad...");
            lib_.OrvMyKadClose();
            return kResultCardAlreadyIn;
        }
        WriteLog("TRYING SECOND TIME");
        lib_.OrvMyKadClose();
        clock_.SleepMs(Number(Setting::kRetryWaitInit));
        if (Init() == kOrvPortUnusable) {
            lib_.OrvMyKadClose();
            return kOrvPortUnusable;
        }
        clock_.SleepMs(Number(Setting::kRetryWaitTry));
        clock_.SleepMs(Number(Setting::kRetryWaitFw));
        ++retries;
        // The reader may still read cards without telling its version.
        if (retries > Number(Setting::kRetryCountFw)) return 0;
    }
}

int ReaderRun::WaitForCard() {
    int polls = 0;
    for (;;) {
        Prompt(7, kLineMyKad, "Please Insert MyKad");
        if (polls > 0) clock_.SleepMs(2000);
        ++polls;
        const int status = lib_.OrvMyKadGetCardStatus(1, 2000);
        WriteLog(Format("CS : %d", status));
        if (Cancelled() || status == kOrvWaitAbandoned || polls >= Number(Setting::kInsertCount)) {
            break;
        }
        if (status == kOrvCardPresent) return 0;
    }
    Prompt(6, kLineMyKad, "User Cancel");
    lib_.OrvMyKadClose();
    return Cancelled() ? kResultCancelled : kOrvWaitAbandoned;
}

int ReaderRun::VerifyFinger() {
    CardPrompt(8, "Reading Bio");
    int last = lib_.OrvMyKadReadBio(application_);
    WriteLog(Format("RB : %d", last));
    if (last != kOrvOk) return last;
    int attempts = 0;
    for (;;) {
        CardPrompt(9, "Verify Bio");
        const int level = attempts >= Number(Setting::kSetLowTimes)
                              ? Number(Setting::kSetLowLevel)  // 1 to 4, else 4
                              : 4;
        lib_.OrvMyKadSecurityLevel(level);
        last = lib_.OrvMyKadVerifyFinger(application_, promptRoutine_);
        WriteLog(Format("VF : %d", last));
        if (last == kOrvOk) return last;
        if (Cancelled()) return kResultCancelled;
        if (last != kOrvNoMatch) return last;
        ++attempts;
        if (attempts >= Number(Setting::kVerifyTimes)) return kOrvNoMatch;
        CardPrompt(10, "Place the Finger Again");
        clock_.SleepMs(1000);
    }
}

int ReaderRun::ReadCard(bool& mykid) {
    int last = lib_.OrvMyKadResetCard(reset_);
    WriteLog(Format("RC : %d", last));
    if (last == kOrvOk) {
        Prompt(2, kLineMyKad, "Reading Open Data");
        last = lib_.OrvMyKadReadOpenData(record_, &recordLength_);
        WriteLog(Format("RD : %d", last));
        if (last == kOrvMyKidRecord) {
            mykid = true;
            return kOrvOk;
        }
    }
    const int eba = lib_.OrvMyKadIsEBA();
    WriteLog(Format("EBA : %d", eba));
    eba_ = eba != 0;
    if (eba_) {
        Prompt(11, kLineEba, "Reading Photo");
    } else {
        Prompt(12, kLineOld, "Reading Photo");
    }
    if (plan_.photo && last == kOrvOk) {
        CardPrompt(3, "Reading Photo");
        last = lib_.OrvMyKadReadPhoto(photo_);
        WriteLog(Format("RP : %d", last));
    }
    if (plan_.finger) {
        if (last != kOrvOk) return last;
        return VerifyFinger();
    }
    return last;
}

// A length the library reports beyond what its buffer or ours holds is cut to fit.
int Bounded(int32_t length, int limit) {
    if (length < 0) return 0;
    return length > limit ? limit : static_cast<int>(length);
}

void ReaderRun::SucceedCopy() {
    CardPrompt(4, "Copying MyKad Data and Photo");
    dialog_.SetOpenData(record_, Bounded(recordLength_, kOpenDataMax));
    dialog_.SetPhoto(photo_, plan_.photo ? sizeof photo_ : 0);
    dialog_.SetFullRecord(true);
}

int ReaderRun::Run() {
    Prompt(1, kLineMyKad, "Init Port");
    int result = 0;
    const int init = Init();
    if (init != kOrvOk) {
        lib_.OrvMyKadClose();
        return kOrvPortUnusable;
    }
    result = AskVersion();
    if (result != 0) return result;
    WriteLog("------------------");
    WriteLog(std::string(version_, strnlen(version_, sizeof version_)));
    WriteLog("------------------");

    result = WaitForCard();
    if (result != 0) return result;

    bool mykid = false;
    int last = ReadCard(mykid);
    if (mykid) {
        Prompt(5, kLineMyKad, "Process Completed");
        lib_.OrvMyKadClose();
        dialog_.SetAltData(record_, Bounded(recordLength_, kAltDataSize));
        dialog_.SetFullRecord(false);
        return 0;
    }
    if (last == kOrvOk) {
        SucceedCopy();
        last = 0;
    }
    CardPrompt(5, "Process Completed");
    lib_.OrvMyKadClose();
    WriteLog(Format("Return Code : %d", last));
    return last;
}

}  // namespace

int RunMyKadReader(MyKadReaderParts& parts) {
    // The dialog counts the thread as running from before its start.
    WriteLog("INSIDE THREAD");
    ReaderRun run(parts);
    const int result = run.Run();
    parts.dialog.SetRetCode(result);
    WriteLog("EXIT THREAD");
    parts.dialog.Close();
    return result;
}

}  // namespace quillon
