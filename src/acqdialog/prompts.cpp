// The prompt-by-code routine that the card-reader library calls while it verifies a finger.
#include <cstring>

#include "acqdialog/acq_dialog.h"
#include "acqdialog/reader_session.h"

namespace quillon {

namespace {

struct PromptText {
    int code;
    const char* key;
    const char* def;
};

const PromptText kPromptTexts[] = {
    {0xA0, "V3", "Please put in your thumb for verification\r\nSila letak ibu jari untuk pengesahan"},
    {0xA1, "E4", "Place your right thumb\r\nSila letak ibu jari kanan"},
    {0xA2, "E5", "Place your left thumb\r\nSila letak ibu jari kiri"},
    {0xA3, "M4", "MyKad verification completed successfully\r\nPengesahan MyKad berjaya"},
    {0xA4, "M5", "MyKad verification failed\r\nPengesahan MyKad gagal"},
    {0xA5, "E3", "Place your thumb again\r\nSila letak ibu jari semula"},
    {0xA6, "E9", "Enroll Success"},
    {0xA7, "E7", "Enrollment Failed\r\nGagal Pendaftaran Cap Jari"},
    {0xB1, "M6", "MYKAD Read Success\r\nMyKad berjaya dibaca"},
    {0xB2, "M7",
     "MYKAD Read Failed. Please Remove MYKAD\r\nPengesahan MyKad gagal. Sila keluarkan MYKAD"},
    {0xB3, "M8", "Remove MYKAD\r\nKeluarkan MYKAD"},
    {0xB4, "M9", "MYKAD Removed\r\nMYKAD telah dikeluarkan"},
    {0xB5, "P10", "Enter PIN"},
    {0xB6, "P11", "Re-enter Pin"},
    {0xB7, "P12", "Enter Pin Success"},
};

// One writer at a time: only one reader thread runs in the process.
char g_szPromptText[100];

}  // namespace

int OnPromptCode(int code) {
    ReaderSession* session = g_pPromptSession.load();
    if (session == nullptr) return 1;
    session->RefreshPromptLines();
    for (const PromptText& prompt : kPromptTexts) {
        if (prompt.code != code) continue;
        const std::string text = session->ReadMessage(prompt.key, prompt.def);
        std::memset(g_szPromptText, 0, sizeof g_szPromptText);
        std::memcpy(g_szPromptText, text.data(),
                    text.size() < sizeof g_szPromptText ? text.size() : sizeof g_szPromptText - 1);
        session->SetPromptLine(kPromptLine2, g_szPromptText);
        break;
    }
    return 1;
}

}  // namespace quillon
