// The reply of a MyKad command that read a card: the host's three texts, the time and the
// computer's address stamped into the card data as a record, then card data, record and an
// origin marker scrambled with a fresh random key and sent base64-encoded, with the scrambled
// photo where the command asks for one. The host reverses the scrambling with the same rule
// (tools/mykad-decoder does it for integrators).
//
// Payload: random block (16 bytes, plain) | marker block (32) | data block (397, 683 or 1445).
// Scramble key: random byte i XOR QUILLON_MYKAD_MASK_EVEN (even i) or _ODD (odd i).
//
// Settings: [MYKAD] LABELLED_RECORD (default 0) = 1 selects the labelled record, which starts
// with "VERIFIED      " or "VERIFY FAIL   " and sits at offset 303 instead of 603. Read when
// each reply is formed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "acqdialog/operations.h"
#include "command/dispatch.h"
#include "foundation/platform.h"
#include "foundation/settings.h"

namespace quillon {

const int kMyKadKeySize = 16;
const int kMyKadMarkerBlockSize = 32;
const int kMyKadPhotoBytes = 4000;
extern const char kMyKadMarker[];  // "KESTRELMARGINFOLDINGPLATE", 25 characters

// Data block lengths (type byte, card bytes and record, last byte replaced by the check byte).
const int kMyKadLabelledDataBlock = 397;
const int kMyKadPlainDataBlock = 683;
const int kMyKidDataBlock = 1445;
const size_t kMyKadLabelledOffset = 303;
const size_t kMyKadPlainOffset = 603;

// Scrambles length bytes of `in` into `out` with the repeating key; the rule is its own inverse.
// A byte stays as it is when it, or its XOR with the key byte, is 0x00 or 0x20. The last output
// byte is the XOR of all others (the check byte); the last input byte is not used. out and in may
// be the same buffer. Nothing is written for length < 1.
void ScrambleBlock(uint8_t* out, const uint8_t* in, int length, const uint8_t* key, int keyLength);

// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string Base64Encode(const uint8_t* bytes, size_t count);

// The scramble key of a random block: the two mask bytes applied alternately.
void DeriveMyKadKey(const uint8_t random[kMyKadKeySize], uint8_t key[kMyKadKeySize]);

// The system's GUID generator as a source of 16 random bytes.
class IGuidSource {
  public:
    virtual ~IGuidSource() = default;
    // False when the generator failed; `bytes` is then not used.
    virtual bool NewGuid(uint8_t bytes[kMyKadKeySize]) = 0;
};

// The runtime's pseudo-random generator (values 0 to 32767), the fallback of the GUID generator.
class IRandomSequence {
  public:
    virtual ~IRandomSequence() = default;
    virtual int Next() = 0;
};

// A GUID's 16 bytes; when the generator fails, each byte is Next() / 255 instead.
void MakeRandomBlock(IGuidSource& guid, IRandomSequence& fallback, uint8_t block[kMyKadKeySize]);

enum class MyKadLayout { kPlain, kLabelledVerified, kLabelledVerifyFail };
// The label names the command's kind (`verifying`: its mode verifies the finger), not the outcome
// of any verification.
MyKadLayout SelectMyKadLayout(bool labelled, bool verifying);
size_t MyKadRecordOffset(MyKadLayout layout);
int MyKadDataBlockLength(MyKadLayout layout);

// "%02d%02d%04d%02d%02d%02d": day, month, year, hour, minute, second.
std::string FormatMyKadTimeStamp(const LocalTime& time);

// The record text: [label] first text (20), second (6), time stamp (14), third (20), address
// (20), each left-aligned and padded with spaces, never cut (a long text widens the record).
std::string FormatMyKadRecord(MyKadLayout layout, const char* const texts[3],
                              const std::string& timeStamp, const std::string& address);

// Writes `record` into the card data at `offset`, cut at cardSize. Returns the bytes written.
size_t WriteMyKadRecord(uint8_t* card, size_t cardSize, size_t offset, const std::string& record);

// Payload of `dataLength` card-data bytes into `payload` (kMyKadPayloadSize bytes, zeroed first);
// `markerPadding` fills the 7 bytes after the marker text. Returns the payload length.
size_t BuildMyKadPayload(const uint8_t random[kMyKadKeySize], const uint8_t* card, int dataLength,
                         uint8_t markerPadding, uint8_t* payload);

// Base64 of `count` bytes without its last character, as the reply carries it.
std::string MyKadText(const uint8_t* bytes, size_t count);

// The IMyKadReply of the library: forms the whole success reply of a MyKad command.
class MyKadRecordReply : public IMyKadReply {
  public:
    MyKadRecordReply(IniLocator& locator, IProfile& profile, IClock& clock, IHostAddress& host,
                     IGuidSource& guid, IRandomSequence& fallback)
        : locator_(locator),
          profile_(profile),
          clock_(clock),
          host_(host),
          guid_(guid),
          fallback_(fallback) {}

    // cardData: kMyKadCardSize bytes, byte 0 '0' (MyKad) or anything else (MyKid); the record is
    // written into it. photo: kMyKadPhotoSize bytes. texts: the host's three MyKad texts.
    std::string Build(const char* keyword, const ModeSetup& reader, uint8_t* cardData,
                      const uint8_t* photo, const char* const texts[3]) override;

  private:
    IniLocator& locator_;
    IProfile& profile_;
    IClock& clock_;
    IHostAddress& host_;
    IGuidSource& guid_;
    IRandomSequence& fallback_;
    // The library's payload and photo buffers, overwritten by every reply.
    uint8_t payload_[kMyKadPayloadSize];
    uint8_t photoBlock_[kMyKadPhotoBlockSize];
};

}  // namespace quillon
