// Secrets in memory: overwritten before their memory is given back, and the one credential
// line derived from the password.
#pragma once

#include <string>

namespace Hypervale {

// Overwrites a secret (its whole capacity) with zeros, then empties it.
void Wipe(std::string& secret);

// "Authorization: Basic " + base64("user:password"). A secret: the caller wipes it.
std::string BasicAuthorizationLine(const std::string& user, const std::string& password);

}  // namespace Hypervale
