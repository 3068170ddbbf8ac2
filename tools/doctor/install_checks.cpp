#include "install_checks.h"

#include <algorithm>
#include <cctype>

namespace quillon {
namespace doctor {

const Browser kBrowsers[3] = {
    {"Chrome", "Google\\Chrome"}, {"Edge", "Microsoft\\Edge"}, {"Chromium", "Chromium"}};
const char kHostName[] = "quillon.bridge";

namespace {

// Administrators, SYSTEM, TrustedInstaller, and CREATOR OWNER (which stands for whoever creates
// a file there, so only someone who already may).
const char* const kTrusted[] = {"S-1-5-32-544", "S-1-5-18",
                                "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                                "S-1-3-0"};

bool Trusted(const FolderFacts& f, const std::string& sid) {
    return std::find(std::begin(kTrusted), std::end(kTrusted), sid) != std::end(kTrusted) ||
           std::find(f.administrators.begin(), f.administrators.end(), sid) !=
               f.administrators.end();
}

// Windows paths: case and the kind of slash do not matter.
bool SamePath(const std::string& a, const std::string& b) {
    auto fold = [](char c) {
        return c == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return fold(x) == fold(y); });
}

std::string HostKey(const std::string& hive, const Browser& b) {
    return hive + "\\Software\\" + b.key + "\\NativeMessagingHosts\\" + kHostName;
}

}  // namespace

Finding FolderCheck(const FolderFacts& f) {
    const char check[] = "install folder";
    if (f.readError != 0) {
        return {Level::kWarn, check,
                "the permissions of " + f.path + " could not be read (error " +
                    std::to_string(f.readError) + ")",
                "run the doctor as administrator, or check with icacls that only administrators "
                "and SYSTEM may change the folder"};
    }
    std::vector<std::string> writers;
    if (!Trusted(f, f.ownerSid)) writers.push_back(f.ownerName + " (its owner)");
    for (const AccessEntry& e : f.allowed) {
        if ((e.mask & kChangeRights) == 0 || Trusted(f, e.sid)) continue;
        if (std::find(writers.begin(), writers.end(), e.name) == writers.end())
            writers.push_back(e.name);
    }
    std::string who;
    for (size_t i = 0; i < writers.size(); ++i) who += (i ? ", " : "") + writers[i];
    if (!f.hasList) who = "everyone (it has no access list)";
    if (who.empty()) {
        return {Level::kOk, check, f.path + ": only administrators and SYSTEM may change it", ""};
    }
    return {Level::kFail, check,
            f.path + " may be changed by " + who +
                ": a DLL put there would run in every program started from it, as whoever "
                "runs it",
            "let only administrators and SYSTEM change the folder, users read and execute (the "
            "package sets this; docs/deploy.md shows how by hand); the doctor loads nothing from "
            "it until then"};
}

Finding BrowserHostCheck(const std::vector<HostRegistration>& registrations) {
    const char check[] = "browser host";
    std::string elsewhere, deletes, machine;
    std::vector<std::string> paths;  // the machine's manifests, each once, in browser order
    for (const HostRegistration& r : registrations) {
        if (!r.machine.empty() &&
            std::none_of(paths.begin(), paths.end(),
                         [&](const std::string& p) { return SamePath(p, r.machine); })) {
            paths.push_back(r.machine);
        }
        if (r.user.empty() || r.userLevelOff || SamePath(r.user, r.machine)) continue;
        const std::string key = HostKey(r.hive, *r.browser);
        elsewhere += (elsewhere.empty() ? "" : "; ") + key + " = " + r.user +
                     " (the machine's: " + (r.machine.empty() ? "none" : r.machine) + ")";
        deletes += (deletes.empty() ? "reg delete \"" : ", reg delete \"") + key + "\" /f";
    }
    if (!elsewhere.empty()) {
        return {Level::kWarn, check,
                "the browser takes a user's registration before the machine's, and one points "
                "elsewhere: " +
                    elsewhere,
                "unless your IT made it, remove it (" + deletes +
                    "), register the host for the machine (the package does) and set the "
                    "browsers' NativeMessagingUserLevelHosts policy to 0 (docs/deploy.md)"};
    }
    for (const std::string& path : paths) {
        std::string names;
        for (const HostRegistration& r : registrations) {
            if (SamePath(r.machine, path) && names.find(r.browser->name) == std::string::npos)
                names += (names.empty() ? "" : ", ") + std::string(r.browser->name);
        }
        machine += (machine.empty() ? "" : "; ") + names + " at " + path;
    }
    const bool any =
        !paths.empty() || std::any_of(registrations.begin(), registrations.end(),
                                      [](const HostRegistration& r) { return !r.user.empty(); });
    if (!any) {
        return {Level::kOk, check, "quillon.bridge is not registered with Chrome, Edge or Chromium",
                ""};
    }
    return {Level::kOk, check,
            "quillon.bridge for the machine: " + (machine.empty() ? "none" : machine) +
                "; no user's registration points elsewhere",
            ""};
}

}  // namespace doctor
}  // namespace quillon
