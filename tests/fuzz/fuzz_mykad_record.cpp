// Card bytes, command and host texts into the MyKad reply builder. Input: a control byte (bit 0:
// labelled record; bit 1: the GUID source fails; bit 2: no host address), three host texts and
// the command, each ended by 0x00, then the card bytes. Every reply must keep its shape.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "command/commands.h"
#include "mykad_fakes.h"

using namespace quillon;

static std::string TakeText(const uint8_t*& data, size_t& size) {
    const size_t length = std::find(data, data + size, 0) - data;
    const std::string text(reinterpret_cast<const char*>(data), length);
    const size_t used = std::min(size, length + 1);
    data += used, size -= used;
    return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size-- < 1) return 0;
    const uint8_t control = *data++;
    // Card and photo buffers of the dispatcher's sizes, on the heap: ASan sees their ends.
    static testing_support::MyKadReplyRig rig("QUILLON.ini");
    rig.profile.Set("QUILLON.ini", "MYKAD", "LABELLED_RECORD", (control & 1) ? "1" : "0");
    rig.guid.works = (control & 2) == 0;
    rig.host.address = (control & 4) ? "" : "192.0.2.2";
    std::string texts[3];
    for (auto& t : texts) t = TakeText(data, size);
    const std::string command = TakeText(data, size);
    std::fill(rig.card.begin(), rig.card.end(), 0);
    std::copy(data, data + std::min(size, rig.card.size()), rig.card.begin());
    const char* const pointers[3] = {texts[0].c_str(), texts[1].c_str(), texts[2].c_str()};

    // The row the dispatcher would take for this field 1, a plain READMYKAD for any other.
    const CommandRow* row = MatchCommand(command.c_str());
    if (row == nullptr || row->mode == nullptr) row = CommandNamed("READMYKAD");
    const std::string text =
        rig.reply.Build(row->keyword, *row->mode, rig.card.data(), rig.photo.data(), pointers);
    const bool mykad = rig.card[0] == '0';
    const std::string head = "[" + std::string(row->keyword) + "][0][" + (mykad ? "0" : "1") + "][";
    // Base64 of the record (MyKid: of the raw card data), then of the photo for two commands.
    const bool withPhoto = mykad && row->mode->readsPhoto;
    const size_t payload = !mykad ? 1991 : ((control & 1) ? 595 : 975);
    if (text.compare(0, head.size(), head) != 0 || text.back() != ']' ||
        text.size() != head.size() + payload + 1 + (withPhoto ? 5335 + 2 : 0))
        std::abort();
    return 0;
}
