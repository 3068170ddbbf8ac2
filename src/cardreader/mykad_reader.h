// The reader thread of the MyKad modes: reads a MyKad (or MyKid) through the card-reader
// library, then the photo and the holder's finger as the mode asks, guiding the user through the
// dialog's two prompt lines, and leaves the result in the dialog before closing it.
//
// The thread (acqdialog/reader_thread.cpp) hands it the reader's session as an IMyKadDialog
// and calls RunMyKadReader; everything the read decides lives here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cardreader/card_reader_library.h"
#include "foundation/platform.h"
#include "foundation/results.h"
#include "foundation/sizes.h"

namespace quillon {

// What a read takes besides the card's record, as the dialog's mode says.
struct MyKadReadPlan {
    bool photo;   // the photo, after the record
    bool finger;  // the holder's finger, verified against the card
};

// The acquisition dialog as the reader thread sees it. The thread calls it from its own thread;
// the dialog's thread only writes the cancel code (when Cancel is pressed). The results wait until
// Close hands them to the dialog in one step.
class IMyKadDialog {
  public:
    virtual ~IMyKadDialog() = default;

    // Inputs, copied when the thread starts; the cancel code is -9 once Cancel was pressed.
    virtual int ComPort() = 0;
    virtual MyKadReadPlan Plan() = 0;
    virtual std::string SettingsPath() = 0;
    virtual int CancelCode() = 0;

    // Prompt lines: RefreshPromptLines invalidates, erases and repaints the areas of both lines
    // at once (without children); SetPromptLine puts a text into line 1 (4003) or 2 (4004).
    virtual void RefreshPromptLines() = 0;
    virtual void SetPromptLine(int line, const std::string& text) = 0;

    // Results, kept until Close hands them over.
    virtual void SetRetCode(int code) = 0;
    virtual void SetLinkKey(const uint8_t* key) = 0;  // the first 16 bytes of the key area
    virtual void SetFullRecord(bool full) = 0;        // a MyKad's record; false: a MyKid's
    // The MyKad record: `length` <= 599 bytes, followed by a zero byte.
    virtual void SetOpenData(const uint8_t* bytes, int length) = 0;
    // The MyKid record: `length` <= 2000 bytes.
    virtual void SetAltData(const uint8_t* bytes, int length) = 0;
    // 4000 bytes, or 0 for an empty photo.
    virtual void SetPhoto(const uint8_t* bytes, size_t length) = 0;

    // Hands the results over and sends WM_CLOSE to the dialog; returns once it has been handled.
    virtual void Close() = 0;
};

struct MyKadReaderParts {
    ICardReaderLibrary& library;
    IMyKadDialog& dialog;
    IProfile& profile;
    IClock& clock;
    MyKadPromptRoutine promptRoutine;  // the dialog's OnPromptCode, handed to OrvMyKadVerifyFinger
};

// The whole run of the reader thread, from "INSIDE THREAD" to the dialog's close. Returns the
// result it handed over.
int RunMyKadReader(MyKadReaderParts& parts);

}  // namespace quillon
