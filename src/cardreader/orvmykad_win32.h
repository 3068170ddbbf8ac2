// The card maker's OrvMyKad.dll, loaded at run time by full path: from the folder of quillon.dll,
// else from the system folder; never by the system's search of the host's working directory and
// PATH, where anyone able to drop a file could plant one. Without the library, or with any of its
// functions missing, OrvMyKadInit answers -4 (the reader cannot be initialised) and the other calls
// fail harmlessly, so the commands that do not read cards never depend on it.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "cardreader/card_reader_library.h"
#include "foundation/module_folder_win32.h"

namespace quillon {

class Win32OrvMyKadLibrary : public ICardReaderLibrary {
  public:
    // Looks beside the module this code is linked into: quillon.dll.
    Win32OrvMyKadLibrary() : folder_(OwnModuleFolder()) {}
    // Looks in `folder` (with its trailing backslash) first: the doctor names the folder of the
    // quillon.dll it checks.
    explicit Win32OrvMyKadLibrary(std::string folder) : folder_(std::move(folder)) {}
    ~Win32OrvMyKadLibrary() override = default;  // the library stays loaded for the process
    Win32OrvMyKadLibrary(const Win32OrvMyKadLibrary&) = delete;
    Win32OrvMyKadLibrary& operator=(const Win32OrvMyKadLibrary&) = delete;

    int OrvMyKadInit(int comPort) override;
    int OrvMyKadGetFirmwareVersion(int timeoutMs, char* version, uint8_t* keyArea) override;
    int OrvMyKadGetCardStatus(int mode, int timeoutMs) override;
    int OrvMyKadResetCard(uint8_t* buffer) override;
    int OrvMyKadReadOpenData(uint8_t* record, int32_t* length) override;
    int OrvMyKadIsEBA() override;
    int OrvMyKadReadPhoto(uint8_t* photo) override;
    int OrvMyKadReadBio(char* application) override;
    int OrvMyKadSecurityLevel(int level) override;
    int OrvMyKadVerifyFinger(char* application, MyKadPromptRoutine prompt) override;
    int OrvMyKadClose() override;

    // Loads the library and all its functions once; false while any of them is missing.
    bool Load();

    // For the doctor: the paths looked at, in order; the one loaded (empty when none was found);
    // the functions it lacks. Tries the load first.
    std::vector<std::string> Looked() const;
    std::string LoadedPath() const;
    std::vector<std::string> Missing();

  private:
    using InitFn = int(__cdecl*)(int);
    using VersionFn = int(__cdecl*)(int, char*, unsigned char*);
    using CardStatusFn = int(__cdecl*)(int, int);
    using BufferFn = int(__cdecl*)(unsigned char*);
    using OpenDataFn = int(__cdecl*)(unsigned char*, int*);
    using NoArgFn = int(__cdecl*)();
    using TextFn = int(__cdecl*)(char*);
    using LevelFn = int(__cdecl*)(int);
    using VerifyFn = int(__cdecl*)(char*, int(__cdecl*)(int));

    const std::string folder_;
    HMODULE module_ = nullptr;
    std::string path_;
    bool loaded_ = false;
    InitFn init_ = nullptr;
    VersionFn version_ = nullptr;
    CardStatusFn cardStatus_ = nullptr;
    BufferFn reset_ = nullptr;
    OpenDataFn openData_ = nullptr;
    NoArgFn isEba_ = nullptr;
    BufferFn photo_ = nullptr;
    TextFn bio_ = nullptr;
    LevelFn level_ = nullptr;
    VerifyFn verify_ = nullptr;
    NoArgFn close_ = nullptr;
};

}  // namespace quillon
