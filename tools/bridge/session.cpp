#include "session.h"

#include <cstring>
#include <utility>

#include "command/fields.h"
#include "foundation/results.h"

namespace quillon {
namespace bridge {

namespace errors {
const ErrorKind kTooLong{"message too long", "message-too-long"};
const ErrorKind kInvalidJson{"invalid JSON", "invalid-json"};
const ErrorKind kNotAnObject{"message is not a JSON object", "not-an-object"};
const ErrorKind kMissingId{"missing id", "missing-id"};
const ErrorKind kBadId{"id is not a string or a number", "bad-id"};
const ErrorKind kMissingRequest{"missing request or cmd", "missing-request"};
const ErrorKind kRequestNotString{"request is not a string", "request-not-a-string"};
const ErrorKind kRequestHasNul{"request holds a NUL character", "request-holds-nul"};
const ErrorKind kUnknownCmd{"unknown cmd", "unknown-cmd"};
const ErrorKind kNoLibrary{"quillon.dll is not loaded", "dll-not-loaded"};
const ErrorKind kMissingOrigin{"missing origin", "missing-origin"};
}  // namespace errors

namespace {

using Ordered = nlohmann::ordered_json;

// Replies are 8-bit texts: a byte that is not UTF-8 goes out as U+FFFD rather than failing.
std::string Dump(const Ordered& message) {
    return message.dump(-1, ' ', false, Ordered::error_handler_t::replace);
}

// At most `limit` bytes of `text`, never ending inside a UTF-8 sequence.
std::string CutAt(const std::string& text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

// Copies `text` into a fixed field, or leaves it empty when it does not fit whole.
template <size_t N>
void Put(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    if (text.size() < N) std::memcpy(field, text.data(), text.size());
}

template <size_t N>
std::string Take(const char (&field)[N]) {
    return std::string(field, strnlen(field, N - 1));
}

}  // namespace

Holder HolderOf(const std::string& request, const std::string& origin) {
    char field[kCommandSize] = {0};
    GetField(1, request.c_str(), field, sizeof field);
    return Holder{CutAt(field, kCommandShown), origin, false};
}

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

std::string ErrorMessage(const Json& id, const ErrorKind& error) {
    Ordered message;
    message["id"] = id;
    message["error"] = error.text;
    message["errorCode"] = error.code;
    return Dump(message);
}

std::string RunningMessage(const Json& id) {
    Ordered message;
    message["id"] = id;
    message["running"] = true;
    return Dump(message);
}

std::string BusyMessage(const Json& id, const std::string& request, const Holder& holder) {
    Ordered message;
    message["id"] = id;
    message["code"] = kResultBusy;
    message["reply"] = BusyReplyText(request);
    Ordered held = Ordered::object();
    // Another process may have shared nothing about its call.
    if (!holder.elsewhere || !holder.command.empty()) held["command"] = holder.command;
    if (!holder.elsewhere || !holder.origin.empty()) held["origin"] = holder.origin;
    if (holder.elsewhere) held["elsewhere"] = true;
    message["heldBy"] = held;
    return Dump(message);
}

std::string BusyReplyText(const std::string& request) {
    char field[kCommandSize] = {0};
    GetField(1, request.c_str(), field, sizeof field);
    return std::string("[") + field + "][" + std::to_string(kResultBusy) + "][123]";
}

Session::Session(IFrameOut& out, ICallThread& calls, ICallLock& lock, Versions versions)
    : out_(out), calls_(calls), lock_(lock), versions_(std::move(versions)) {}

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
    // The page the extension checked: a busy answer elsewhere names it, and a caller that does
    // not say who it is gets no call.
    const auto origin = message.find("origin");
    if (origin == message.end() || !origin->is_string() ||
        origin->get_ref<const std::string&>().empty()) {
        return Send(ErrorMessage(*id, errors::kMissingOrigin));
    }
    if (versions_.library.empty()) return Send(ErrorMessage(*id, errors::kNoLibrary));
    if (busy_.exchange(true)) return Send(BusyMessage(*id, text, running_));
    running_ = HolderOf(text, origin->get_ref<const std::string&>());
    calls_.Start(Job{*id, text, running_});
}

bool Session::Begin(const Job& job) {
    Holder other;
    if (!lock_.TryTake(job.holder, other)) {
        other.elsewhere = true;
        busy_.store(false);
        Send(BusyMessage(job.id, job.request, other));
        return false;
    }
    Send(RunningMessage(job.id));
    return true;
}

void Session::Finish(const Json& id, int code, const std::string& reply) {
    lock_.Give();
    busy_.store(false);
    Send(ReplyMessage(id, code, reply));
}

void Session::Send(const std::string& message) { out_.Write(EncodeFrame(message)); }

void Publish(SharedHolder& shared, const Holder& holder) {
    shared.sequence.fetch_add(1, std::memory_order_acq_rel);
    std::atomic_thread_fence(std::memory_order_release);
    Put(shared.command, holder.command);
    Put(shared.origin, holder.origin);
    shared.sequence.fetch_add(1, std::memory_order_release);
}

bool Peek(const SharedHolder& shared, Holder& holder) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const uint32_t before = shared.sequence.load(std::memory_order_acquire);
        if (before % 2 != 0) continue;
        Holder copy{Take(shared.command), Take(shared.origin), true};
        std::atomic_thread_fence(std::memory_order_acquire);
        if (shared.sequence.load(std::memory_order_relaxed) != before) continue;
        holder = std::move(copy);
        return true;
    }
    return false;
}

}  // namespace bridge
}  // namespace quillon
