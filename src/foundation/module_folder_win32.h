// The folder of the module (DLL or program) that holds the calling code, with its trailing
// backslash: where a library looks first for the files that ship beside it.
#pragma once

#include <windows.h>

#include <string>

namespace quillon {

// Inline, so that each module that uses it has its own copy and finds its own folder.
inline std::string OwnModuleFolder() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&OwnModuleFolder), &self)) {
        return std::string();
    }
    char path[MAX_PATH + 1] = {0};
    const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    std::string folder(path, length);
    const size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

}  // namespace quillon
