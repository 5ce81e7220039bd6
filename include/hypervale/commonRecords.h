// Records shared by every engine resource, and the engine's version and API root.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace Hypervale {

typedef std::uint64_t UINT64;

struct SLinkInfoLib {
  std::string href;
  std::string rel;
};

// Base of every resource record. `links` maps a link's "rel" to its "href".
struct SBaseResourceInfoLib {
  std::string name;
  std::string description;
  std::string comment;
  std::string href;
  std::string id;
  std::map<std::string, std::string> links;
};

struct SFaultInfoLib {
  std::string reason;
  std::string detail;
};

struct SVersionInfoLib {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint32_t revision = 0;
  std::string fullVersion;
};

struct SProductInfoLib {
  std::string name;
  std::string vendor;
  SVersionInfoLib version;
};

// The engine's API root; only `productInfo` is read from it.
struct SAPIInfoLib : SBaseResourceInfoLib {
  SProductInfoLib productInfo;
};

struct SCustomPropertyInfoLib {
  std::string name;
  std::string value;
};

}  // namespace Hypervale
