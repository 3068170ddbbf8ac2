#include "standin_model.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace orvstandin {

const char* const kFunctionNames[11] = {"OrvMyKadInit",          "OrvMyKadGetFirmwareVersion",
                                        "OrvMyKadGetCardStatus", "OrvMyKadResetCard",
                                        "OrvMyKadReadOpenData",  "OrvMyKadIsEBA",
                                        "OrvMyKadReadPhoto",     "OrvMyKadReadBio",
                                        "OrvMyKadSecurityLevel", "OrvMyKadVerifyFinger",
                                        "OrvMyKadClose"};

namespace {

const size_t kRecordSize = 2000;
const size_t kPhotoSize = 4000;
const size_t kVersionSize = 48;
const size_t kKeyAreaSize = 20;

std::string Pad(const std::string& text, size_t width) {
    std::string out = text.substr(0, width);
    out.resize(width, ' ');
    return out;
}

// A readable open-data record of fixed-width fields, as a card might hold it.
std::vector<uint8_t> DefaultMyKadRecord() {
    const std::string text = Pad("901301-14-0000", 14) + Pad("NAMA CONTOH BINTI UJIAN", 80) +
                             Pad("P", 1) + Pad("WARGANEGARA", 20) + Pad("19901301", 8) +
                             Pad("NO 0 JALAN CONTOH", 40) + Pad("TAMAN UJIAN", 40) +
                             Pad("50450", 5) + Pad("KUALA LUMPUR", 30) +
                             Pad("WP KUALA LUMPUR", 30) + Pad("ISLAM", 10) + Pad("MELAYU", 20);
    std::vector<uint8_t> record(text.begin(), text.end());
    while (record.size() < 450) record.push_back(static_cast<uint8_t>(record.size() % 200 + 1));
    return record;
}

std::vector<uint8_t> DefaultMyKidRecord() {
    const std::string text = Pad("151301-14-0000", 14) + Pad("ANAK CONTOH BINTI UJIAN", 80) +
                             Pad("SIJIL LAHIR CONTOH", 30) + Pad("20151301", 8);
    std::vector<uint8_t> record(text.begin(), text.end());
    while (record.size() < 1444) record.push_back(static_cast<uint8_t>(record.size() % 200 + 1));
    return record;
}

std::vector<uint8_t> DefaultPhoto() {
    std::vector<uint8_t> photo(kPhotoSize);
    for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<uint8_t>(i * 31 + 7);
    photo[0] = 0xFF;
    photo[1] = 0xD8;
    photo[kPhotoSize - 2] = 0xFF;
    photo[kPhotoSize - 1] = 0xD9;
    return photo;
}

bool IsFunction(const std::string& name) {
    for (const char* f : kFunctionNames) {
        if (name == f) return true;
    }
    return false;
}

bool ParseNumber(const std::string& word, long long& value) {
    if (word.empty()) return false;
    char* end = nullptr;
    value = std::strtoll(word.c_str(), &end, 0);
    return end != nullptr && *end == '\0';
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& out) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == '\t') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.size() % 2 != 0) return false;
    out.clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
    }
    return true;
}

// "fill N BYTE", "hex ...", "text ..." into bytes.
bool ParseBytes(const std::string& kind, const std::string& rest, size_t limit,
                std::vector<uint8_t>& out, std::string& why) {
    if (kind == "text") {
        out.assign(rest.begin(), rest.end());
    } else if (kind == "hex") {
        if (!ParseHex(rest, out)) {
            why = "bad hexadecimal bytes";
            return false;
        }
    } else if (kind == "fill") {
        std::istringstream words(rest);
        std::string n, b;
        long long count = 0, value = 0;
        words >> n >> b;
        if (!ParseNumber(n, count) || !ParseNumber(b, value) || count < 0 || value < 0 ||
            value > 255) {
            why = "expected: fill COUNT BYTE";
            return false;
        }
        out.assign(static_cast<size_t>(count), static_cast<uint8_t>(value));
    } else {
        why = "expected text, hex or fill";
        return false;
    }
    if (out.size() > limit) {
        why = "more than " + std::to_string(limit) + " bytes";
        return false;
    }
    return true;
}

}  // namespace

Scenario DefaultScenario() {
    Scenario s;
    for (size_t i = 0; i < kKeyAreaSize; ++i) s.key.push_back(static_cast<uint8_t>(i * 17 + 3));
    s.prompts = {0xA0, 0xA3};
    return s;
}

bool ParseScenario(const std::string& text, Scenario& s, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string directive;
        words >> directive;
        if (directive.empty() || directive[0] == '#') continue;
        std::string rest;
        std::getline(words, rest);
        const size_t start = rest.find_first_not_of(" \t");
        rest = start == std::string::npos ? std::string() : rest.substr(start);
        std::istringstream args(rest);
        std::string why;

        if (directive == "card") {
            if (rest == "mykad" || rest == "mykid") {
                s.mykid = rest == "mykid";
            } else {
                why = "expected mykad or mykid";
            }
        } else if (directive == "eba") {
            if (rest == "yes" || rest == "no") {
                s.eba = rest == "yes";
            } else {
                why = "expected yes or no";
            }
        } else if (directive == "version") {
            if (rest.size() >= kVersionSize) why = "version text longer than 47 characters";
            s.version = rest;
        } else if (directive == "key") {
            std::vector<uint8_t> key;
            if (!ParseHex(rest, key) || key.size() > kKeyAreaSize) {
                why = "expected up to 20 hexadecimal bytes";
            } else {
                s.key = key;
            }
        } else if (directive == "record" || directive == "photo") {
            std::string kind;
            args >> kind;
            std::string bytes;
            std::getline(args, bytes);
            if (!bytes.empty() && bytes[0] == ' ') bytes.erase(0, 1);
            ParseBytes(kind, bytes, directive == "record" ? kRecordSize : kPhotoSize,
                       directive == "record" ? s.record : s.photo, why);
        } else if (directive == "record-length") {
            long long n = 0;
            if (!ParseNumber(rest, n)) {
                why = "expected a number";
            } else {
                s.recordLength = n;
            }
        } else if (directive == "result" || directive == "delay") {
            std::string name;
            args >> name;
            if (!IsFunction(name)) {
                why = "unknown function '" + name + "'";
            } else {
                std::string word;
                std::deque<int> values;
                while (args >> word) {
                    long long v = 0;
                    if (!ParseNumber(word, v)) {
                        why = "bad number '" + word + "'";
                        break;
                    }
                    values.push_back(static_cast<int>(v));
                }
                if (why.empty() && directive == "result") {
                    auto& list = s.results[name];
                    list.insert(list.end(), values.begin(), values.end());
                } else if (why.empty()) {
                    bool negative = false;
                    for (int v : values) negative |= v < 0;
                    if (values.empty() || negative) {
                        why = "expected: delay FUNCTION MILLISECONDS...";
                    } else {
                        s.delays[name] = values;
                    }
                }
            }
        } else if (directive == "prompts") {
            std::string word;
            s.prompts.clear();
            while (args >> word) {
                long long v = 0;
                if (!ParseNumber(word, v)) {
                    why = "bad number '" + word + "'";
                    break;
                }
                s.prompts.push_back(static_cast<int>(v));
            }
        } else {
            why = "unknown directive '" + directive + "'";
        }
        if (!why.empty()) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
    }
    return true;
}

int StandinReader::Next(const char* name, int def) {
    auto it = scenario_.results.find(name);
    if (it == scenario_.results.end() || it->second.empty()) return def;
    const int r = it->second.front();
    it->second.pop_front();
    return r;
}

int StandinReader::NextDelay(const char* name) {
    auto it = scenario_.delays.find(name);
    if (it == scenario_.delays.end() || it->second.empty()) return 0;
    const int ms = it->second.front();
    if (it->second.size() > 1) it->second.pop_front();  // the last one stays
    return ms;
}

void StandinReader::Delay(const char* name) {
    const int ms = NextDelay(name);
    if (ms > 0) host_.Sleep(ms);
}

int StandinReader::Finish(const std::string& call, int result) {
    host_.Record(call + " -> " + std::to_string(result));
    return result;
}

int StandinReader::Init(int port) {
    Delay("OrvMyKadInit");
    return Finish("OrvMyKadInit " + std::to_string(port), Next("OrvMyKadInit", 0));
}

int StandinReader::GetFirmwareVersion(int timeoutMs, char* version, unsigned char* keyArea) {
    Delay("OrvMyKadGetFirmwareVersion");
    const int r = Next("OrvMyKadGetFirmwareVersion", 0);
    if (r == 0) {
        std::memset(version, 0, kVersionSize);
        std::memcpy(
            version, scenario_.version.data(),
            scenario_.version.size() < kVersionSize ? scenario_.version.size() : kVersionSize - 1);
        std::memcpy(keyArea, scenario_.key.data(),
                    scenario_.key.size() < kKeyAreaSize ? scenario_.key.size() : kKeyAreaSize);
    }
    return Finish("OrvMyKadGetFirmwareVersion " + std::to_string(timeoutMs), r);
}

int StandinReader::GetCardStatus(int mode, int timeoutMs) {
    const std::string call =
        "OrvMyKadGetCardStatus " + std::to_string(mode) + " " + std::to_string(timeoutMs);
    const int wait = NextDelay("OrvMyKadGetCardStatus");
    // A pending wait gives up once the user cancels, whatever the scenario says.
    if (host_.WaitForCancel(wait)) return Finish(call, -30);
    return Finish(call, Next("OrvMyKadGetCardStatus", 2));
}

int StandinReader::ResetCard(unsigned char* buffer) {
    Delay("OrvMyKadResetCard");
    std::memset(buffer, 0, 100);
    buffer[0] = 0x3B;  // an answer-to-reset byte; the caller does not look
    return Finish("OrvMyKadResetCard", Next("OrvMyKadResetCard", 0));
}

int StandinReader::ReadOpenData(unsigned char* record, int* length) {
    Delay("OrvMyKadReadOpenData");
    const int r = Next("OrvMyKadReadOpenData", scenario_.mykid ? 9999 : 0);
    const std::vector<uint8_t> bytes =
        !scenario_.record.empty() ? scenario_.record
                                  : (scenario_.mykid ? DefaultMyKidRecord() : DefaultMyKadRecord());
    std::memset(record, 0, kRecordSize);
    std::memcpy(record, bytes.data(), bytes.size() < kRecordSize ? bytes.size() : kRecordSize);
    *length = scenario_.recordLength >= 0 ? static_cast<int>(scenario_.recordLength)
                                          : static_cast<int>(bytes.size());
    return Finish("OrvMyKadReadOpenData", r);
}

int StandinReader::IsEBA() {
    Delay("OrvMyKadIsEBA");
    return Finish("OrvMyKadIsEBA", Next("OrvMyKadIsEBA", scenario_.eba ? 1 : 0));
}

int StandinReader::ReadPhoto(unsigned char* photo) {
    Delay("OrvMyKadReadPhoto");
    const std::vector<uint8_t> bytes = scenario_.photo.empty() ? DefaultPhoto() : scenario_.photo;
    std::memset(photo, 0, kPhotoSize);
    std::memcpy(photo, bytes.data(), bytes.size() < kPhotoSize ? bytes.size() : kPhotoSize);
    return Finish("OrvMyKadReadPhoto", Next("OrvMyKadReadPhoto", 0));
}

std::string Application(const char* application) {
    return std::string(application, strnlen(application, 20));
}

int StandinReader::ReadBio(char* application) {
    Delay("OrvMyKadReadBio");
    return Finish("OrvMyKadReadBio " + Application(application), Next("OrvMyKadReadBio", 0));
}

int StandinReader::SecurityLevel(int level) {
    Delay("OrvMyKadSecurityLevel");
    return Finish("OrvMyKadSecurityLevel " + std::to_string(level),
                  Next("OrvMyKadSecurityLevel", 0));
}

int StandinReader::VerifyFinger(char* application, int (*prompt)(int)) {
    std::string codes;
    for (int code : scenario_.prompts) {
        if (prompt != nullptr) prompt(code);
        codes += (codes.empty() ? " prompts " : ",") + std::to_string(code);
    }
    Delay("OrvMyKadVerifyFinger");
    return Finish("OrvMyKadVerifyFinger " + Application(application) + codes,
                  Next("OrvMyKadVerifyFinger", 0));
}

int StandinReader::Close() {
    Delay("OrvMyKadClose");
    return Finish("OrvMyKadClose", Next("OrvMyKadClose", 0));
}

}  // namespace orvstandin
