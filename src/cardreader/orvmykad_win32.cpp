#include "cardreader/orvmykad_win32.h"

#include <string>

namespace quillon {

namespace {

const char kLibraryName[] = "OrvMyKad.dll";
// What the real library answers for a reader it cannot use.
const int kUnavailable = kOrvPortUnusable;

// The full path only, so no search of the working directory or PATH can put another file in its
// place. Its own imports come from its folder or System32; where the loader does not know these
// flags (Windows 7 without KB2533623) the altered search order resolves them from its folder too.
HMODULE LoadByFullPath(const std::string& path) {
    HMODULE module = LoadLibraryExA(
        path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return module;
}

std::string SystemFolder() {
    char path[MAX_PATH + 1] = {0};
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(path, length) + "\\";
}

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return fn != nullptr;
}

}  // namespace

// Beside quillon.dll first, then the system folder.
std::vector<std::string> Win32OrvMyKadLibrary::Looked() const {
    std::vector<std::string> paths;
    for (const std::string& folder : {folder_, SystemFolder()}) {
        if (!folder.empty()) paths.push_back(folder + kLibraryName);
    }
    return paths;
}

std::string Win32OrvMyKadLibrary::LoadedPath() const { return path_; }

bool Win32OrvMyKadLibrary::Load() {
    if (loaded_) return true;
    if (module_ == nullptr) {
        for (const std::string& path : Looked()) {
            module_ = LoadByFullPath(path);
            if (module_ != nullptr) {
                path_ = path;
                break;
            }
        }
        if (module_ == nullptr) return false;
    }
    loaded_ = Missing().empty();
    return loaded_;
}

std::vector<std::string> Win32OrvMyKadLibrary::Missing() {
    std::vector<std::string> missing;
    if (loaded_) return missing;
    if (module_ == nullptr) Load();  // which resolves through here once it finds the file
    if (module_ == nullptr || loaded_) return missing;
    const auto resolve = [&](const char* name, auto& fn) {
        if (!Resolve(module_, name, fn)) missing.push_back(name);
    };
    resolve("OrvMyKadInit", init_);
    resolve("OrvMyKadGetFirmwareVersion", version_);
    resolve("OrvMyKadGetCardStatus", cardStatus_);
    resolve("OrvMyKadResetCard", reset_);
    resolve("OrvMyKadReadOpenData", openData_);
    resolve("OrvMyKadIsEBA", isEba_);
    resolve("OrvMyKadReadPhoto", photo_);
    resolve("OrvMyKadReadBio", bio_);
    resolve("OrvMyKadSecurityLevel", level_);
    resolve("OrvMyKadVerifyFinger", verify_);
    resolve("OrvMyKadClose", close_);
    return missing;
}

int Win32OrvMyKadLibrary::OrvMyKadInit(int comPort) {
    if (!Load()) return kUnavailable;
    return init_(comPort);
}

int Win32OrvMyKadLibrary::OrvMyKadGetFirmwareVersion(int timeoutMs, char* version,
                                                     uint8_t* keyArea) {
    return loaded_ ? version_(timeoutMs, version, keyArea) : kUnavailable;
}

int Win32OrvMyKadLibrary::OrvMyKadGetCardStatus(int mode, int timeoutMs) {
    return loaded_ ? cardStatus_(mode, timeoutMs) : kUnavailable;
}

int Win32OrvMyKadLibrary::OrvMyKadResetCard(uint8_t* buffer) {
    return loaded_ ? reset_(buffer) : kUnavailable;
}

int Win32OrvMyKadLibrary::OrvMyKadReadOpenData(uint8_t* record, int32_t* length) {
    if (!loaded_) return kUnavailable;
    int count = 0;
    const int result = openData_(record, &count);
    *length = count;
    return result;
}

int Win32OrvMyKadLibrary::OrvMyKadIsEBA() { return loaded_ ? isEba_() : 0; }

int Win32OrvMyKadLibrary::OrvMyKadReadPhoto(uint8_t* photo) {
    return loaded_ ? photo_(photo) : kUnavailable;
}

int Win32OrvMyKadLibrary::OrvMyKadReadBio(char* application) {
    return loaded_ ? bio_(application) : kUnavailable;
}

int Win32OrvMyKadLibrary::OrvMyKadSecurityLevel(int level) {
    return loaded_ ? level_(level) : kUnavailable;
}

int Win32OrvMyKadLibrary::OrvMyKadVerifyFinger(char* application, MyKadPromptRoutine prompt) {
    // The prompt routine is a plain cdecl function (the default convention of this build).
    return loaded_ ? verify_(application, prompt) : kUnavailable;
}

int Win32OrvMyKadLibrary::OrvMyKadClose() { return loaded_ ? close_() : 0; }

}  // namespace quillon
