// The library's buffer sizes. The host keeps its fields within those of a call; a longer field is
// cut to the buffer (one byte of each goes to the terminator).
#pragma once

#include <cstddef>

namespace quillon {

// Request fields as the dispatcher copies them.
const size_t kCommandSize = 500;        // field 1
const size_t kArgumentSize = 50;        // fields 2 and 3: show and port
const size_t kVerifyTextSize = 1200;    // field 4 of VERIFY: one template in hexadecimal
const size_t kVerify2FTextSize = 2400;  // field 4 of VERIFY2F: two templates in hexadecimal
const size_t kMyKadTextSize = 20;       // fields 4 to 6 of the MyKad commands

// The longest refusal reply: "[", field 1 cut to the command buffer, "][", the code, "][123]".
const size_t kFieldReplySize = 1 + (kCommandSize - 1) + 2 + 11 + 6 + 1;

// What the runners hand back.
const size_t kResultTextSize = 50;       // serial number or link-status text
const size_t kTemplateSize = 598;        // the bytes of one fingerprint template
const size_t kTemplateBufferSize = 600;  // the buffer that holds one
const int kSignatureDataSize = 5000;     // the signature bytes a dialog keeps
const size_t kMyKadCardSize = 2000;      // MyKad card data with the reply record in it
const size_t kMyKadPhotoSize = 4100;     // the MyKad photo (4000 bytes used)

// GETBRANCHCODE: the branch from the settings and the computer's address.
const size_t kBranchCodeSize = 50;
const size_t kBranchNameSize = 150;
const size_t kHostAddressSize = 50;

// The MyKad reply: random block, marker block and data block; the scrambled photo block.
const size_t kMyKadPayloadSize = 1556;
const size_t kMyKadPhotoBlockSize = 4056;

// The reader thread's buffers.
const int kOpenDataSize = 600;  // the MyKad record plus a zero byte
const int kOpenDataMax = kOpenDataSize - 1;
const int kAltDataSize = 2000;    // the MyKid record
const int kPromptTextSize = 100;  // a [MESSAGE] prompt text: at most 99 characters

// Settings texts as the library reads them.
const size_t kSettingTextCapacity = 51;  // the dialog's baud rate, font face and Cancel text
const size_t kLogoPathCapacity = 100;    // [IMAGE] LOC
const size_t kWindowsDirCapacity = 200;  // the Windows folder, for System32's settings file

}  // namespace quillon
