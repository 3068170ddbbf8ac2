// The card maker's reader library (OrvMyKad.dll) as the reader thread calls it. The Win32 build
// loads the real library (orvmykad_win32.h); tests script a fake. Every call returns a signed
// 32-bit result; the buffers are the caller's and have the sizes given.
#pragma once

#include <cstdint>

namespace quillon {

// The message routine handed to OrvMyKadVerifyFinger: takes a code 160 to 183, returns 1.
using MyKadPromptRoutine = int (*)(int code);

const int kOrvVersionSize = 48;
const int kOrvKeyAreaSize = 20;
const int kOrvResetSize = 100;
const int kOrvRecordSize = 2000;
const int kOrvPhotoSize = 4000;
const int kOrvApplicationSize = 20;

// Results the program relies on.
const int kOrvOk = 0;
const int kOrvPortUnusable = -4;
const int kOrvCardStillInserted = -15;
const int kOrvCardPresent = 2;
const int kOrvWaitAbandoned = -30;
const int kOrvMyKidRecord = 9999;
const int kOrvNoMatch = -3;

class ICardReaderLibrary {
  public:
    virtual ~ICardReaderLibrary() = default;
    // 0: ready; -4: port unusable.
    virtual int OrvMyKadInit(int comPort) = 0;
    // 0: version text in `version` (48 bytes), key in the first 16 of `keyArea` (20 bytes, zeroed
    // by the caller); -15: a card is still inserted; other: retry.
    virtual int OrvMyKadGetFirmwareVersion(int timeoutMs, char* version, uint8_t* keyArea) = 0;
    // Called with 1 and 2000. 2: card present; -30: wait abandoned; other: no card yet.
    virtual int OrvMyKadGetCardStatus(int mode, int timeoutMs) = 0;
    // `buffer`: 100 bytes, content not used. 0: card ready.
    virtual int OrvMyKadResetCard(uint8_t* buffer) = 0;
    // `record`: 2000 bytes. 0: MyKad open data of *length bytes; 9999: MyKid record, done.
    virtual int OrvMyKadReadOpenData(uint8_t* record, int32_t* length) = 0;
    // Non-zero: newer (EBA) card.
    virtual int OrvMyKadIsEBA() = 0;
    // `photo`: 4000 bytes, all of them the photo on 0.
    virtual int OrvMyKadReadPhoto(uint8_t* photo) = 0;
    // `application`: 20 bytes holding "DUV".
    virtual int OrvMyKadReadBio(char* application) = 0;
    // Matching level 1 to 4; result ignored.
    virtual int OrvMyKadSecurityLevel(int level) = 0;
    // 0: match; -3: no match (may be retried). Calls `prompt` with message codes meanwhile.
    virtual int OrvMyKadVerifyFinger(char* application, MyKadPromptRoutine prompt) = 0;
    // Result ignored.
    virtual int OrvMyKadClose() = 0;
};

}  // namespace quillon
