// Values of request documents as the engine's REST layer reads them: an element or attribute
// that is present counts as given, even when it is empty, and identifiers are UUIDs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine_simulator/xml_in.h"

namespace hvsim {

bool isUuid(std::string_view text);

// Refuses (Failure 400) a document in which any "id" attribute, <id> or <image_id> element is
// empty or not a UUID. Logical units and CPU types carry other kinds of ids and are skipped.
void checkIdentifiers(const XmlNode& document);

// The id an element carries: its "id" attribute, else its <id> child; nullopt when neither.
std::optional<std::string> givenId(const XmlNode& element);
// The name a reference carries: its <name> child, else its "name" attribute.
std::optional<std::string> givenName(const XmlNode& element);
// A boolean child: nullopt when absent; Failure 400 when present but not true or false.
std::optional<bool> givenFlag(const XmlNode& element, std::string_view path);
// A disk interface the engine knows (virtio, virtio_scsi, ide, sata, spapr_vscsi); Failure 400
// for an empty or unknown one.
std::string checkedInterface(const std::string& value);

}  // namespace hvsim
