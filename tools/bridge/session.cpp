#include "session.h"

#include <cstring>
#include <utility>

#include "command/fields.h"
#include "foundation/results.h"

namespace quillon {
namespace bridge {

namespace errors {
const char kTooLong[] = "message too long";
const char kInvalidJson[] = "invalid JSON";
const char kNotAnObject[] = "message is not a JSON object";
const char kMissingId[] = "missing id";
const char kBadId[] = "id is not a string or a number";
const char kMissingRequest[] = "missing request or cmd";
const char kRequestNotString[] = "request is not a string";
const char kRequestHasNul[] = "request holds a NUL character";
const char kUnknownCmd[] = "unknown cmd";
const char kNoLibrary[] = "quillon.dll is not loaded";
}  // namespace errors

namespace {

using Ordered = nlohmann::ordered_json;

// Replies are 8-bit texts: a byte that is not UTF-8 goes out as U+FFFD rather than failing.
std::string Dump(const Ordered& message) {
    return message.dump(-1, ' ', false, Ordered::error_handler_t::replace);
}

}  // namespace

std::string ReplyMessage(const Json& id, int code, const std::string& reply) {
    Ordered message;
    message["id"] = id;
    message["code"] = code;
    message["reply"] = reply;
    return Dump(message);
}

std::string VersionMessage(const Json& id, const Versions& versions) {
    Ordered message;
    message["id"] = id;
    message["bridge"] = versions.bridge;
    if (versions.library.empty()) {
        message["dll"] = nullptr;
    } else {
        message["dll"] = versions.library;
    }
    return Dump(message);
}

std::string ErrorMessage(const Json& id, const std::string& error) {
    Ordered message;
    message["id"] = id;
    message["error"] = error;
    return Dump(message);
}

std::string BusyReplyText(const std::string& request) {
    char field[kCommandSize] = {0};
    GetField(1, request.c_str(), field, sizeof field);
    return std::string("[") + field + "][" + std::to_string(kResultBusy) + "][123]";
}

Session::Session(IFrameOut& out, ICallThread& calls, Versions versions)
    : out_(out), calls_(calls), versions_(std::move(versions)) {}

void Session::Receive(const char* data, size_t size) {
    events_.clear();
    decoder_.Feed(data, size, events_);
    for (FrameEvent& event : events_) {
        if (event.kind == FrameEvent::kTooLong) {
            Send(ErrorMessage(nullptr, errors::kTooLong));
        } else {
            Handle(event.payload);
        }
    }
    events_.clear();
}

void Session::Handle(const std::string& payload) {
    const Json message = Json::parse(payload, nullptr, false);
    if (message.is_discarded()) return Send(ErrorMessage(nullptr, errors::kInvalidJson));
    if (!message.is_object()) return Send(ErrorMessage(nullptr, errors::kNotAnObject));
    const auto id = message.find("id");
    if (id == message.end()) return Send(ErrorMessage(nullptr, errors::kMissingId));
    if (!id->is_string() && !id->is_number()) return Send(ErrorMessage(nullptr, errors::kBadId));

    const auto request = message.find("request");
    if (request == message.end()) {
        const auto cmd = message.find("cmd");
        if (cmd == message.end()) return Send(ErrorMessage(*id, errors::kMissingRequest));
        if (*cmd == "version") return Send(VersionMessage(*id, versions_));
        return Send(ErrorMessage(*id, errors::kUnknownCmd));
    }
    if (!request->is_string()) return Send(ErrorMessage(*id, errors::kRequestNotString));
    const std::string& text = request->get_ref<const std::string&>();
    // The library reads a C string: what follows a NUL would be dropped without a word.
    if (text.find('\0') != std::string::npos) {
        return Send(ErrorMessage(*id, errors::kRequestHasNul));
    }
    if (versions_.library.empty()) return Send(ErrorMessage(*id, errors::kNoLibrary));
    if (busy_.exchange(true)) return Send(ReplyMessage(*id, kResultBusy, BusyReplyText(text)));
    calls_.Start(Job{*id, text});
}

void Session::Finish(const Json& id, int code, const std::string& reply) {
    busy_.store(false);
    Send(ReplyMessage(id, code, reply));
}

void Session::Send(const std::string& message) { out_.Write(EncodeFrame(message)); }

}  // namespace bridge
}  // namespace quillon
