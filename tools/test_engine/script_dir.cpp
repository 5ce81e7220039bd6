#include "test_engine/script_dir.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "test_engine/test_engine.h"

namespace hvtest {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::pair<std::string, std::string>> parseScriptFileName(std::string_view name) {
  constexpr std::string_view kSuffix = ".xml";
  if (name.size() <= kSuffix.size() || name.substr(name.size() - kSuffix.size()) != kSuffix) {
    return std::nullopt;
  }
  name.remove_suffix(kSuffix.size());
  size_t sep = name.find("__");
  if (sep == 0 || sep == std::string_view::npos) return std::nullopt;
  std::string method(name.substr(0, sep));
  for (char c : method) {
    if (!((c >= 'A' && c <= 'Z') || c == '*')) return std::nullopt;
  }
  std::string_view encoded = name.substr(sep + 2);
  std::string path;
  for (size_t i = 0; i < encoded.size(); ++i) {
    char c = encoded[i];
    if (c == '_') {
      path += '/';
    } else if (c == '%') {
      if (i + 2 >= encoded.size()) return std::nullopt;
      int hi = hexValue(encoded[i + 1]);
      int lo = hexValue(encoded[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      path += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      path += c;
    }
  }
  if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
  return std::make_pair(std::move(method), std::move(path));
}

size_t loadScriptDirectory(TestEngine& engine, const std::string& dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) throw std::runtime_error("cannot read script directory " + dir + ": " + ec.message());
  size_t count = 0;
  for (const fs::directory_entry& entry : it) {
    if (!entry.is_regular_file()) continue;
    auto parsed = parseScriptFileName(entry.path().filename().string());
    if (!parsed) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    if (!in) throw std::runtime_error("cannot read " + entry.path().string());
    engine.answer(parsed->first, parsed->second, Answer::xml(200, body.str()));
    ++count;
  }
  return count;
}

}  // namespace hvtest
