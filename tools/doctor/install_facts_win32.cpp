#include "install_facts_win32.h"

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace quillon {
namespace doctor {

namespace {

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) return "?";
    std::string out(text);
    LocalFree(text);
    return out;
}

// "BUILTIN\Users", "Everyone"; the SID itself when this PC cannot name it.
std::string AccountName(PSID sid) {
    char name[256], domain[256];
    DWORD nameSize = sizeof name, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        return SidText(sid);
    }
    return domain[0] == '\0' ? std::string(name) : std::string(domain) + "\\" + name;
}

// The doctor's own account, when its token holds the Administrators group in any form.
std::string OwnAdministratorAccount() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
    std::string account;
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    std::vector<char> groups(size);
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD adminsSize = sizeof admins;
    if (size != 0 && GetTokenInformation(token, TokenGroups, groups.data(), size, &size) &&
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize)) {
        const TOKEN_GROUPS* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
        for (DWORD i = 0; i < list->GroupCount && account.empty(); ++i) {
            if (!EqualSid(list->Groups[i].Sid, admins)) continue;
            DWORD userSize = 0;
            GetTokenInformation(token, TokenUser, nullptr, 0, &userSize);
            std::vector<char> user(userSize);
            if (userSize != 0 &&
                GetTokenInformation(token, TokenUser, user.data(), userSize, &userSize)) {
                account = SidText(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
            }
        }
    }
    CloseHandle(token);
    return account;
}

// A key's default value as text; empty when the key or its value is missing.
std::string DefaultValue(HKEY root, const std::string& key, REGSAM view) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS) {
        return std::string();
    }
    char data[2048] = {0};
    DWORD size = sizeof data - 1, type = 0;
    const LONG read =
        RegQueryValueExA(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::string();
    return std::string(data);
}

bool PolicyIsZero(const Browser& browser, const char* name) {
    DWORD value = 1, size = sizeof value, type = 0;
    HKEY handle = nullptr;
    const std::string key = std::string("Software\\Policies\\") + browser.key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &handle) !=
        ERROR_SUCCESS) {
        return false;
    }
    const LONG read =
        RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(handle);
    return read == ERROR_SUCCESS && type == REG_DWORD && value == 0;
}

}  // namespace

FolderFacts ReadFolderFacts(const std::string& folder) {
    FolderFacts facts;
    facts.path = folder;
    std::string name = folder;
    if (name.size() > 3 && (name.back() == '\\' || name.back() == '/')) name.pop_back();
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    facts.readError = GetNamedSecurityInfoA(name.c_str(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            &owner, nullptr, &list, nullptr, &descriptor);
    if (facts.readError != ERROR_SUCCESS) return facts;
    facts.ownerSid = SidText(owner);
    facts.ownerName = AccountName(owner);
    facts.hasList = list != nullptr;
    for (DWORD i = 0; list != nullptr && i < list->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(list, i, &entry)) continue;
        // Deny entries are left out: a FAIL they would have spared is the safe mistake.
        const BYTE type = static_cast<ACE_HEADER*>(entry)->AceType;
        if (type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) continue;
        ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        PSID sid = &allowed->SidStart;
        facts.allowed.push_back({SidText(sid), AccountName(sid), allowed->Mask});
    }
    LocalFree(descriptor);
    const std::string own = OwnAdministratorAccount();
    if (!own.empty()) facts.administrators.push_back(own);
    return facts;
}

std::vector<HostRegistration> ReadHostRegistrations() {
    // Every user whose registry is loaded (the doctor's own; the logged-on teller's too when a
    // distribution tool runs it as SYSTEM), as HKEY_USERS lists them.
    std::vector<std::string> hives;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(HKEY_USERS, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        const std::string hive(name, size);
        if (hive.size() < 8 || hive.compare(hive.size() - 8, 8, "_Classes") != 0)
            hives.push_back(hive);
    }
    std::vector<HostRegistration> out;
    for (const Browser& browser : kBrowsers) {
        const std::string key =
            std::string("Software\\") + browser.key + "\\NativeMessagingHosts\\" + kHostName;
        HostRegistration r{&browser, "", DefaultValue(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY),
                           PolicyIsZero(browser, "NativeMessagingUserLevelHosts")};
        if (r.machine.empty()) r.machine = DefaultValue(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY);
        const size_t before = out.size();
        for (const std::string& hive : hives) {
            r.user = DefaultValue(HKEY_USERS, hive + "\\" + key, 0);
            r.hive = "HKU\\" + hive;
            if (!r.user.empty()) out.push_back(r);
        }
        if (out.size() == before) {
            r.user.clear();
            out.push_back(r);
        }
    }
    return out;
}

}  // namespace doctor
}  // namespace quillon
