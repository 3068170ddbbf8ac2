// The stand-in card reader's behaviour, free of Windows calls: the scenario it follows and the
// eleven library calls answered from it. The DLL (standin_dll_win32.cpp) adds the exports, the
// cancel event and the call record file. Formats: README.md.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace orvstandin {

struct Scenario {
    bool mykid = false;
    bool eba = true;
    std::string version = "OrvMyKad stand-in 1.0";
    std::vector<uint8_t> key;     // up to 20 bytes into the key area
    std::vector<uint8_t> record;  // open data (MyKad) or the MyKid record, up to 2000 bytes
    int64_t recordLength = -1;    // the length reported; -1: the record's size
    std::vector<uint8_t> photo;   // up to 4000 bytes; the rest of the buffer is zero
    std::map<std::string, std::deque<int>> results;  // by function name, taken in order
    // ms before answering, by function name: one value per call in order, the last one for
    // every call after it.
    std::map<std::string, std::deque<int>> delays;
    std::vector<int> prompts;  // codes handed to the callback in every VerifyFinger
};

// The built-in scenario: a MyKad, EBA, that matches on the first finger.
Scenario DefaultScenario();

// Applies the lines of a scenario file on top of `scenario`. Returns false with `error`
// ("line N: ...") at the first line it cannot read.
bool ParseScenario(const std::string& text, Scenario& scenario, std::string& error);

extern const char* const kFunctionNames[11];

// What the model needs from its host: waits (the card wait ends early on cancel) and the record.
class IStandinHost {
  public:
    virtual ~IStandinHost() = default;
    virtual void Sleep(int ms) = 0;
    // Waits up to `ms` for the cancel event; true when it is (or becomes) set.
    virtual bool WaitForCancel(int ms) = 0;
    virtual void Record(const std::string& line) = 0;
};

class StandinReader {
  public:
    StandinReader(Scenario scenario, IStandinHost& host)
        : scenario_(std::move(scenario)), host_(host) {}

    int Init(int port);
    int GetFirmwareVersion(int timeoutMs, char* version, unsigned char* keyArea);
    int GetCardStatus(int mode, int timeoutMs);
    int ResetCard(unsigned char* buffer);
    int ReadOpenData(unsigned char* record, int* length);
    int IsEBA();
    int ReadPhoto(unsigned char* photo);
    int ReadBio(char* application);
    int SecurityLevel(int level);
    int VerifyFinger(char* application, int (*prompt)(int));
    int Close();

  private:
    int Next(const char* name, int def);
    int NextDelay(const char* name);
    void Delay(const char* name);
    int Finish(const std::string& call, int result);

    Scenario scenario_;
    IStandinHost& host_;
};

}  // namespace orvstandin
