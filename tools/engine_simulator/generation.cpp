#include "engine_simulator/generation.h"

#include <cctype>
#include <vector>

namespace hvsim {

std::optional<Generation> Generation::parse(std::string_view text) {
  std::vector<unsigned> parts;
  size_t i = 0;
  while (i < text.size() && parts.size() < 4) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    unsigned value = 0;
    size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && digits < 6) {
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      ++i;
      ++digits;
    }
    parts.push_back(value);
    if (i == text.size()) break;
    if (text[i] != '.') return std::nullopt;
    ++i;
    if (i == text.size()) return std::nullopt;
  }
  if (i != text.size() || parts.size() < 2) return std::nullopt;
  if (parts[0] != 3 && parts[0] != 4) return std::nullopt;
  Generation g;
  g.major = parts[0];
  g.minor = parts[1];
  g.build = parts.size() > 2 ? parts[2] : 0;
  g.revision = parts.size() > 3 ? parts[3] : 0;
  return g;
}

std::string Generation::label() const {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

std::string Generation::fullVersion() const {
  // Engines are built for the distribution they run on: 3.x on 6, 4.0 to 4.3 on 7, later on 8.
  const char* distribution = v3() ? "-1.el6" : code() < 4004000 ? "-1.el7.centos" : "-1.el8";
  return label() + "." + std::to_string(revision) + distribution;
}

}  // namespace hvsim
