#include <winsock2.h>

#include "foundation/platform_win32.h"

namespace quillon {

namespace {

// The answer is copied out before any shut-down: it lives in the sockets interface's storage.
std::string LookUpFirstIPv4() {
    const hostent* entry = gethostbyname("");
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list == nullptr ||
        entry->h_addr_list[0] == nullptr) {
        return std::string();
    }
    in_addr address;
    memcpy(&address, entry->h_addr_list[0], sizeof address);
    const char* text = inet_ntoa(address);
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace

std::string Win32HostAddress::FirstIPv4() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return std::string();
    if (after_ == Sockets::kLeaveStarted) return LookUpFirstIPv4();
    std::string address;
    try {
        address = LookUpFirstIPv4();
    } catch (...) {
        WSACleanup();
        throw;
    }
    WSACleanup();
    return address;
}

}  // namespace quillon
