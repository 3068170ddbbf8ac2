#include "command/operation_runners.h"

#include <cstring>

#include "foundation/log.h"
#include "foundation/setting_table.h"
#include "foundation/sizes.h"

namespace quillon {

namespace {
size_t Min(size_t a, size_t b) { return a < b ? a : b; }
}  // namespace

int OperationRunners::Port(int port) {
    return port != 0 ? port : FindComPort(env_.locator, registry_, env_.profile);
}

int OperationRunners::StatusQueryFirst(int show, int port) {
    char scratch[kResultTextSize] = {0};
    const int result = QueryText(Mode::kGetLltStatus, show, port, scratch);
    if (result != 0) return result;
    clock_.SleepMs(
        ReadSetting(env_.profile, env_.locator.GetIniPath(), Setting::kDelayAfterFirstCall));
    return 0;
}

int OperationRunners::PerformEnroll(int show, int port, uint8_t* templateOut) {
    WriteLog("Begin PerformEnroll");
    int result = StatusQueryFirst(show, port);
    if (result == 0) {
        FingerOperation enroll(Mode::kEnroll, 1);
        Run(enroll, show != 0, Port(port));
        const FingerResult done = enroll.Result();
        result = done.retCode;
        if (result == 0) {
            std::memcpy(templateOut, done.templ.data(),
                        Min(done.templ.size(), kTemplateBufferSize));
        }
    }
    WriteLog("End PerformEnroll");
    return result;
}

int OperationRunners::Verify(const char* name, int show, int port, int length, const uint8_t* templ,
                             int templateFormat) {
    WriteLog(Format("Begin %s", name));
    int result = StatusQueryFirst(show, port);
    if (result == 0) {
        // Byte 17 of each template must be 2; from 1197 bytes on nothing is tested.
        if (length < 599) {
            if (templ[17] != 2) result = kResultTemplateRefused;
        } else if (length < 1197) {
            if (templ[17] != 2 || templ[615] != 2) result = kResultTemplateRefused;
        }
    }
    if (result == 0) {
        FingerOperation verify(Mode::kVerify, templateFormat,
                               std::string(reinterpret_cast<const char*>(templ),
                                           static_cast<size_t>(length > 0 ? length : 0)));
        Run(verify, show != 0, Port(port));
        result = verify.Result().retCode;
    }
    WriteLog(Format("End %s", name));
    return result;
}

int OperationRunners::PerformVerify(int show, int port, int length, const uint8_t* templ) {
    return Verify("PerformVerify", show, port, length, templ, 1);
}

int OperationRunners::PerformVerify2F(int show, int port, int length, const uint8_t* templ) {
    return Verify("PerformVerify2F", show, port, length, templ, 2);
}

int OperationRunners::QueryText(Mode mode, int show, int port, char* textOut) {
    const TextQuery& row = SetupFor(mode).query;
    WriteLog(Format("Begin %s", row.runner));
    int result = row.statusFirst ? StatusQueryFirst(show, port) : 0;
    if (result == 0) {
        TerminalQuery query(mode);
        Run(query, false, Port(port));
        const QueryResult done = query.Result();
        result = done.retCode;
        if (result == 0) {
            // The caller's text holds 49 characters and the terminator.
            const size_t n = Min(done.text.size(), kResultTextSize - 1);
            std::memcpy(textOut, done.text.data(), n);
            textOut[n] = '\0';
        }
    }
    WriteLog(Format("End %s", row.runner));
    return result;
}

int OperationRunners::SetTerminalTime(int port, int useGiven, const char* dateTime) {
    WriteLog("Begin SetTerminalTime");
    char time[kTerminalTimeSize] = {0};
    if (useGiven == 1) {
        std::memcpy(time, dateTime, Min(std::strlen(dateTime), sizeof time));
    } else {
        const LocalTime now = clock_.Now();
        const std::string full = Format("%04d%02d%02d%02d%02d%02d", now.year, now.month, now.day,
                                        now.hour, now.minute, now.second);
        std::memcpy(time, full.data() + full.size() - sizeof time, sizeof time);
    }
    TerminalQuery query(Mode::kSetTerminalTime, time);
    Run(query, false, Port(port));
    const int result = query.Result().retCode;
    WriteLog("End SetTerminalTime");
    return result;
}

int OperationRunners::GetSignature(int show, int port, uint8_t* dataOut, uint32_t* countOut) {
    WriteLog("Begin GetSignature");
    SignatureOperation signature;
    Run(signature, show != 0, Port(port));
    const SignatureResult& done = signature.Result();
    WriteLog(Format("nRet = %d", done.retCode));
    if (done.retCode == 0) {
        // A success reply carries at least its seven header bytes; a shorter one counts as empty.
        const uint32_t count = done.lengthField > 7 ? done.lengthField - 7 : 0;
        const uint32_t bounded =
            static_cast<uint32_t>(Min(count, static_cast<size_t>(kSignatureDataSize)));
        std::memcpy(dataOut, done.data.data(), bounded);
        *countOut = bounded;
    }
    WriteLog("End GetSignature");
    return done.retCode;
}

int OperationRunners::ReadCard(Mode mode, int show, int port, uint8_t* cardOut, uint8_t* photoOut) {
    const int comPort = Port(port);
    WriteLog(Format("COMPORT : %d", comPort));
    WriteLog(show != 0 ? "Enable ShowDialog" : "Disable ShowDialog");
    CardReadOperation read(mode);
    WriteLog("Begin Process");
    Run(read, show != 0, comPort);
    WriteLog("End Process");
    const int result = read.RetCode();
    WriteLog(Format("Return Code : %d", result));
    if (result != 0) return result;
    const ReaderResult& card = read.Result();
    if (card.fullRecord) {
        WriteLog("MYKAD");
        cardOut[0] = '0';
        const size_t n = Min(static_cast<size_t>(card.openDataLength > 0 ? card.openDataLength : 0),
                             Min(sizeof card.openData, kMyKadCardSize - 1));
        std::memcpy(cardOut + 1, card.openData, n);
        if (SetupFor(mode).readsPhoto) {
            std::memcpy(photoOut, card.photo.data(), Min(card.photo.size(), kMyKadPhotoSize));
        }
    } else {
        WriteLog("MYKID");
        cardOut[0] = '1';
        const size_t n = Min(static_cast<size_t>(card.altDataLength > 0 ? card.altDataLength : 0),
                             Min(sizeof card.altData, kMyKadCardSize - 1));
        std::memcpy(cardOut + 1, card.altData, n);
    }
    return result;
}

}  // namespace quillon
