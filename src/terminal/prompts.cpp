#include "terminal/prompts.h"

namespace quillon {

namespace {

struct CodePrompt {
    int code;
    PromptText other;
    PromptText enroll;  // key null: as `other`
    PromptText verify;  // key null: as `other`
};

const PromptText kSame = {nullptr, nullptr};

const CodePrompt kCodePrompts[] = {
    {0xA0,
     {"V3", "Please put in your thumb for verification\r\nSila letak ibu jari untuk pengesahan"},
     {"E2", "Please put in your thumb for enrollment\r\nSila letak ibu jari untuk imbasan"},
     kSame},
    {0xA1, {"E4", "Place your right thumb\r\nSila letak ibu jari kanan"}, kSame, kSame},
    {0xA2, {"E5", "Place your left thumb\r\nSila letak ibu jari kiri"}, kSame, kSame},
    {0xA3,
     {"M4", "MyKad verification completed successfully\r\nPengesahan MyKad berjaya"},
     kSame,
     {"V4", "Finger Verify Success\r\nPengesahan jari berjaya"}},
    {0xA4,
     {"M5", "MyKad verification failed\r\nPengesahan MyKad gagal"},
     kSame,
     {"V5", "Finger Verify Failed\r\nPengesahan jari gagal"}},
    {0xA5, {"E3", "Place your thumb again\r\nSila letak ibu jari semula"}, kSame, kSame},
    {0xA6, {"E9", "Enroll Success"}, kSame, kSame},
    {0xA7, {"E7", "Enrollment Failed\r\nGagal Pendaftaran Cap Jari"}, kSame, kSame},
    {0xB1, {"M6", "MYKAD Read Success\r\nMyKad berjaya dibaca"}, kSame, kSame},
    {0xB2,
     {"M7",
      "MYKAD Read Failed. Please Remove MYKAD\r\nPengesahan MyKad gagal. Sila keluarkan MYKAD"},
     kSame,
     kSame},
    {0xB3, {"M8", "Remove MYKAD\r\nKeluarkan MYKAD"}, kSame, kSame},
    {0xB4, {"M9", "MYKAD Removed\r\nMYKAD telah dikeluarkan"}, kSame, kSame},
    {0xB5, {"P10", "Enter PIN"}, kSame, kSame},
    {0xB6, {"P11", "Re-enter Pin"}, kSame, kSame},
    {0xB7, {"P12", "Enter Pin Success"}, kSame, kSame},
};

}  // namespace

const PromptText* PromptForCode(int code, PromptVariant variant) {
    for (const CodePrompt& row : kCodePrompts) {
        if (row.code != code) continue;
        if (variant == PromptVariant::kEnroll && row.enroll.key != nullptr) return &row.enroll;
        if (variant == PromptVariant::kVerify && row.verify.key != nullptr) return &row.verify;
        return &row.other;
    }
    return nullptr;
}

}  // namespace quillon
