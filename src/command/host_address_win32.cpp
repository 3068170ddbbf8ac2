#include <winsock2.h>

#include "foundation/platform_win32.h"

namespace quillon {

std::string Win32HostAddress::FirstIPv4() {
    // The sockets interface is left started: later lookups of the process reuse it.
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return std::string();
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

}  // namespace quillon
