// Arbitrary card data, command text and host texts into the MyKad reply builder, with the unit
// tests' fixed random, clock and host sources. Input: one control byte (bit 0: labelled record;
// bit 1: the GUID generator fails; bit 2: no host address), then three host texts and the
// command, each up to a 0x00 byte, then card bytes. Every reply must keep its shape, and nothing
// may touch memory outside the card, photo and payload buffers (ASan).
#include <algorithm>
#include <cstdlib>
#include <string>

#include "mykad_fakes.h"

using namespace quillon;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

std::string TakeText(const uint8_t*& data, size_t& size) {
    const size_t length = std::find(data, data + size, 0) - data;
    const std::string text(reinterpret_cast<const char*>(data), length);
    const size_t used = std::min(size, length + 1);
    data += used;
    size -= used;
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t control = *data++;
    --size;
    // The rig's card and photo buffers have the dispatcher's sizes, on the heap: ASan sees their
    // ends.
    static testing_support::MyKadReplyRig rig("QUILLON.ini");
    rig.profile.Set("QUILLON.ini", "MYKAD", "LABELLED_RECORD", (control & 1) ? "1" : "0");
    rig.guid.works = (control & 2) == 0;
    rig.host.address = (control & 4) ? "" : "192.0.2.2";

    std::string texts[3];
    for (auto& t : texts) t = TakeText(data, size);
    const std::string command = TakeText(data, size);
    std::fill(rig.card.begin(), rig.card.end(), 0);
    std::copy(data, data + std::min(size, rig.card.size()), rig.card.begin());
    for (size_t i = 0; i < rig.photo.size(); ++i) rig.photo[i] = static_cast<uint8_t>(i ^ control);
    const char* const pointers[3] = {texts[0].c_str(), texts[1].c_str(), texts[2].c_str()};

    const bool mykad = rig.card[0] == '0';
    const std::string text =
        rig.reply.Build(command.c_str(), rig.card.data(), rig.photo.data(), pointers);
    const MyKadCommand kind = ClassifyMyKadCommand(command.c_str());
    const std::string head =
        "[" + std::string(MyKadKeyword(kind)) + "][0][" + (mykad ? "0" : "1") + "][";
    Check(text.compare(0, head.size(), head) == 0 && text.back() == ']');
    const bool withPhoto =
        mykad && (kind == MyKadCommand::kFull || kind == MyKadCommand::kNoVerifyWithPhoto);
    const size_t payload = !mykad ? 1991 : ((control & 1) ? 595 : 975);
    Check(text.size() == head.size() + payload + 1 + (withPhoto ? 5335 + 2 : 0));
    return 0;
}
