// A hold on Xerces' initialisation for objects that keep Xerces objects between calls.
#pragma once

namespace Hypervale {
namespace xml {

// Adds one to Xerces' own initialisation count, so that a host's last Terminate leaves Xerces
// running until the holder releases it; false, holding nothing, when Xerces is not initialised.
bool HoldXmlLibrary();
void ReleaseXmlLibrary();

}  // namespace xml
}  // namespace Hypervale
