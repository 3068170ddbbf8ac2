// The doctor's judgement of how the install can be tampered with: who may change the folder the
// programs and quillon.dll are loaded from, and whether a per-user registration of the browsers'
// native-messaging host points somewhere else than the machine's (Chrome and Edge look for the
// user's first). Portable; install_facts_win32.cpp reads the access list and the registry.
#pragma once

#include <string>
#include <vector>

#include "doctor_checks.h"

namespace quillon {
namespace doctor {

// One entry of the folder's access list that grants rights.
struct AccessEntry {
    std::string sid;   // "S-1-5-32-545"
    std::string name;  // "BUILTIN\Users", or the SID when it has no name here
    unsigned long mask = 0;
};

struct FolderFacts {
    std::string path;             // with its trailing backslash
    unsigned long readError = 0;  // the system's error when the list could not be read
    std::string ownerSid;
    std::string ownerName;
    bool hasList = true;               // false: no access list at all, which lets everyone in
    std::vector<AccessEntry> allowed;  // in the list's order, inherited and inheritable alike
    // Accounts known to be administrators besides the well-known ones: the doctor's own when
    // its token holds the Administrators group, even one that UAC keeps for denying only.
    std::vector<std::string> administrators;
};

// The rights that let an account put a file in the folder or in place of one of its files, or
// give itself those rights: add a file or folder, delete a child, delete or rename the folder,
// change its access list or owner, and the generic rights that hold them.
constexpr unsigned long kChangeRights =
    0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;

// FAIL when anyone but administrators, SYSTEM, TrustedInstaller and the creator-owner
// placeholder may change the folder (its owner counts: an owner may always rewrite the list).
Finding FolderCheck(const FolderFacts& folder);

// The browsers that read native-messaging hosts from the registry, and the key part they use
// under Software\ (hosts) and Software\Policies\ (their policies).
struct Browser {
    const char* name;
    const char* key;
};
extern const Browser kBrowsers[3];
extern const char kHostName[];  // "quillon.bridge"

// quillon.bridge as one browser finds it for one user: the manifest path of that user's
// registration and of the machine's (32-bit view first, then 64-bit, as the browsers look), empty
// when absent. A browser may have one entry per user whose registry the doctor can read.
struct HostRegistration {
    const Browser* browser;
    std::string user;
    std::string machine;
    bool userLevelOff = false;  // the NativeMessagingUserLevelHosts policy is 0
    std::string hive = "HKCU";  // where the user's registration is: "HKU\\S-1-5-21-..."
};

// WARN for every per-user registration that the browser would take and that names another
// manifest than the machine's.
Finding BrowserHostCheck(const std::vector<HostRegistration>& registrations);

}  // namespace doctor
}  // namespace quillon
