// The system's side of the install checks (install_checks.h): the folder's owner and access list,
// and the browsers' registrations of the native-messaging host and their policy.
#pragma once

#include <string>
#include <vector>

#include "install_checks.h"

namespace quillon {
namespace doctor {

// `folder` with its trailing backslash.
FolderFacts ReadFolderFacts(const std::string& folder);

// For each browser of kBrowsers in that order, one entry per user whose registry is loaded and
// readable and registers the host, or one without a user's registration.
std::vector<HostRegistration> ReadHostRegistrations();

}  // namespace doctor
}  // namespace quillon
