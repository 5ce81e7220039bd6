#include "engine_simulator/values.h"

#include <cctype>

#include "engine_simulator/failure.h"

namespace hvsim {

namespace {

bool carriesOtherIds(const std::string& name) { return name == "logical_unit" || name == "cpu"; }

void refuseId(const std::string& where, const std::string& value) {
  throw Failure::badValue("Invalid UUID string: '" + value + "' (" + where + ")");
}

void checkNode(const XmlNode& node) {
  if (carriesOtherIds(node.name)) return;
  if (std::optional<std::string> id = node.attribute("id"); id && !isUuid(*id)) {
    refuseId(node.name + " id", *id);
  }
  for (const XmlNode& child : node.children) {
    if ((child.name == "id" || child.name == "image_id") && !isUuid(trim(child.text))) {
      refuseId(node.name + " " + child.name, trim(child.text));
    }
    checkNode(child);
  }
}

}  // namespace

bool isUuid(std::string_view text) {
  static constexpr size_t kDashes[] = {8, 13, 18, 23};
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool dash = false;
    for (size_t at : kDashes) dash = dash || i == at;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

void checkIdentifiers(const XmlNode& document) { checkNode(document); }

std::optional<std::string> givenId(const XmlNode& element) {
  if (std::optional<std::string> id = element.attribute("id")) return id;
  return element.textAt("id");
}

std::optional<std::string> givenName(const XmlNode& element) {
  if (std::optional<std::string> name = element.textAt("name")) return name;
  return element.attribute("name");
}

std::optional<bool> givenFlag(const XmlNode& element, std::string_view path) {
  if (!element.find(path)) return std::nullopt;
  std::optional<bool> value = element.flagAt(path);
  if (!value) throw Failure::badValue("Invalid value for " + std::string(path) + ": not a boolean");
  return value;
}

std::string checkedInterface(const std::string& value) {
  for (const char* known : {"virtio", "virtio_scsi", "ide", "sata", "spapr_vscsi"}) {
    if (value == known) return value;
  }
  throw Failure::badValue("Invalid value for interface: '" + value +
                          "'; expected virtio, virtio_scsi, ide, sata or spapr_vscsi");
}

}  // namespace hvsim
