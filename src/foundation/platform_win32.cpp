#include "foundation/platform_win32.h"

#include <cstdio>
#include <vector>

namespace quillon {

int Win32Profile::ReadInt(const std::string& path, const char* section, const char* key,
                          int def) {
    return static_cast<int>(GetPrivateProfileIntA(section, key, def, path.c_str()));
}

std::string Win32Profile::ReadString(const std::string& path, const char* section,
                                     const char* key, const char* def, size_t capacity) {
    std::vector<char> buffer(capacity + 1, '\0');
    GetPrivateProfileStringA(section, key, def, buffer.data(), static_cast<DWORD>(capacity),
                             path.c_str());
    return std::string(buffer.data());
}

bool Win32FileSystem::CanOpenForRead(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

std::string Win32FileSystem::WindowsDirectory(size_t capacity) {
    std::vector<char> buffer(capacity + 1, '\0');
    GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(capacity));
    return std::string(buffer.data());
}

bool Win32SerialCommRegistry::Open() {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                         KEY_QUERY_VALUE, &key_) == ERROR_SUCCESS;
}

bool Win32SerialCommRegistry::QueryValue(const char* name, char* data, uint32_t size) {
    DWORD length = size;
    return RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                            &length) == ERROR_SUCCESS;
}

void Win32SerialCommRegistry::Close() {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
}

LocalTime Win32Clock::Now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

void Win32Clock::SleepMs(int milliseconds) { Sleep(milliseconds > 0 ? milliseconds : 0); }

Win32FileLog::Win32FileLog() { InitializeCriticalSection(&lock_); }

Win32FileLog::~Win32FileLog() { DeleteCriticalSection(&lock_); }

void Win32FileLog::Configure(bool enabled, const std::string& file) {
    // Copied outside the lock: a copy that runs out of memory must not leave the lock held.
    std::string name = enabled ? file : std::string();
    EnterCriticalSection(&lock_);
    file_.swap(name);
    LeaveCriticalSection(&lock_);
    SetLogSink(enabled ? this : nullptr);
}

void Win32FileLog::Write(const std::string& line) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    const std::string text = FormatLogLine(
        LogTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds}, line);
    EnterCriticalSection(&lock_);
    if (!file_.empty()) {
        // Binary mode: the line already ends in CR LF.
        FILE* out = std::fopen(file_.c_str(), "ab");
        if (out != nullptr) {
            std::fwrite(text.data(), 1, text.size(), out);
            std::fclose(out);
        }
    }
    LeaveCriticalSection(&lock_);
}

}  // namespace quillon
