// How the programs that ship beside quillon.dll (the bridge, the doctor) load it without letting a
// file planted in their folder, the current folder or PATH load in its place or in the place of
// a system DLL: every search by name goes to the system folder, quillon.dll is named by its full
// path, and its version is read from the loaded module (version.dll, which Windows would look for
// beside the program first, is never imported).
#pragma once

#include <windows.h>

#include <cstring>
#include <string>

namespace quillon {

// Call first in main, before anything loads a DLL by name. Windows 7 without KB2533623 lacks the
// call: there the current folder at least leaves the search.
inline void SearchDllsInSystemFolderOnly() {
    typedef BOOL(WINAPI * SetDefaultFn)(DWORD);
    const SetDefaultFn setDefault = reinterpret_cast<SetDefaultFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryA("");
}

// The module at `path` (a full path), its own imports from the system folder only. GetLastError
// tells why when it returns null.
inline HMODULE LoadByFullPathImportsFromSystem(const std::string& path) {
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return module;
}

// The four numbers of a loaded module's file version (its VS_VERSION_INFO resource); false when
// it has none.
inline bool ModuleFileVersion(HMODULE module, unsigned (&parts)[4]) {
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(VS_VERSION_INFO),
                                      MAKEINTRESOURCEA(16));  // RT_VERSION
    const HGLOBAL loaded = found == nullptr ? nullptr : LoadResource(module, found);
    const unsigned char* data =
        static_cast<const unsigned char*>(loaded == nullptr ? nullptr : LockResource(loaded));
    // The block opens with its length, the value's length, its type and L"VS_VERSION_INFO",
    // padded to 40 bytes; the fixed part follows.
    const DWORD offset = 40;
    VS_FIXEDFILEINFO fixed;
    if (data == nullptr || SizeofResource(module, found) < offset + sizeof fixed ||
        (data[2] | data[3] << 8) != sizeof fixed) {
        return false;
    }
    std::memcpy(&fixed, data + offset, sizeof fixed);
    if (fixed.dwSignature != VS_FFI_SIGNATURE) return false;
    parts[0] = HIWORD(fixed.dwFileVersionMS);
    parts[1] = LOWORD(fixed.dwFileVersionMS);
    parts[2] = HIWORD(fixed.dwFileVersionLS);
    parts[3] = LOWORD(fixed.dwFileVersionLS);
    return true;
}

}  // namespace quillon
