#include "foundation/platform_win32.h"

#include <cstdio>
#include <vector>

namespace quillon {

int Win32Profile::ReadInt(const std::string& path, const char* section, const char* key, int def) {
    return static_cast<int>(GetPrivateProfileIntA(section, key, def, path.c_str()));
}

std::string Win32Profile::ReadString(const std::string& path, const char* section, const char* key,
                                     const char* def, size_t capacity) {
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
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                         &key_) == ERROR_SUCCESS;
}

bool Win32SerialCommRegistry::QueryValue(const char* name, char* data, uint32_t size) {
    DWORD length = size;
    return RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &length) ==
           ERROR_SUCCESS;
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

Win32LogFile::~Win32LogFile() { Close(); }

bool Win32LogFile::Open(const std::string& path) {
    Close();
    file_ = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
}

uint64_t Win32LogFile::Size() {
    LARGE_INTEGER size;
    if (file_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(file_, &size)) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

size_t Win32LogFile::Write(const char* data, size_t size) {
    DWORD written = 0;
    if (file_ == INVALID_HANDLE_VALUE ||
        !WriteFile(file_, data, static_cast<DWORD>(size), &written, nullptr)) {
        return 0;
    }
    return written;
}

void Win32LogFile::Close() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}

bool Win32LogFile::Replace(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

Win32LogThreads::Win32LogThreads() { InitializeCriticalSection(&lock_); }

Win32LogThreads::~Win32LogThreads() { DeleteCriticalSection(&lock_); }

LogStamp Win32LogThreads::Stamp() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return LogStamp{
        LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds},
        GetCurrentProcessId(), GetCurrentThreadId()};
}

void Win32LogThreads::Lock() { EnterCriticalSection(&lock_); }

void Win32LogThreads::Unlock() { LeaveCriticalSection(&lock_); }

}  // namespace quillon
