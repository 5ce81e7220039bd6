#include "shaped_engine.h"

#include <sstream>

#include "engine_simulator/failure.h"
#include "engine_simulator/search.h"

namespace hvbench {
namespace {

const char kApi[] = "/ovirt-engine/api";

// "/ovirt-engine/api/<collection>/<id>[/<rest>]" split into its parts.
bool SplitPath(const std::string& path, std::string& collection, std::string& id,
               std::string& rest) {
  const std::string prefix = std::string(kApi) + "/";
  if (path.compare(0, prefix.size(), prefix) != 0) return false;
  std::istringstream parts(path.substr(prefix.size()));
  std::getline(parts, collection, '/');
  std::getline(parts, id, '/');
  std::getline(parts, rest);
  return true;
}

// The route of the request in the simulator's terms, which decide what "follow" may name.
std::string RouteOf(const std::string& collection, const std::string& id, const std::string& rest) {
  if (collection != "vms") return collection;
  if (id.empty()) return "vms";
  if (rest.empty()) return "vms/*";
  if (rest == "diskattachments") return "vms/*/diskattachments";
  return "vms/*/" + rest;
}

unsigned KeyOf(const hvsim::Follow& follow) {
  return (follow.diskAttachments ? 1u : 0u) | (follow.disks ? 2u : 0u) |
         (follow.snapshots ? 4u : 0u) | (follow.nics ? 8u : 0u);
}

}  // namespace

ShapedEngine::ShapedEngine(const std::string& fixtureDir, const std::string& password)
    : bodies_(fixtureDir) {
  hvtest::Options options;
  options.password = password;
  sessions_ = std::make_unique<hvsim::Sessions>(
      *hvsim::Generation::parse("4.5"), hvsim::SessionOptions(), nullptr,
      [this](const std::string& user, const std::string& given) {
        return engine_->validCredentials(user, given);
      });
  options.authorizer = [this](const hvtest::Request& request) {
    return sessions_->authorize(request);
  };
  options.maxConnections = 4096;  // a client without reuse opens one per request
  options.idleTimeout = std::chrono::milliseconds(60000);
  options.ioTimeout = std::chrono::milliseconds(60000);
  engine_ = std::make_unique<hvtest::TestEngine>(options);
  engine_->setFallback([this](const hvtest::Request& request) { return answer(request); });
}

void ShapedEngine::setVmCount(size_t count) {
  auto plain = std::make_shared<const std::string>(bodies_.vmList(count, hvsim::Follow()));
  std::lock_guard<std::mutex> lock(listMutex_);
  count_ = count;
  lists_.clear();
  lists_[0] = std::move(plain);
}

std::shared_ptr<const std::string> ShapedEngine::listBody() const { return list(hvsim::Follow()); }

std::shared_ptr<const std::string> ShapedEngine::bodyOf(const hvtest::Request& request) const {
  std::optional<hvtest::Answer> answer = this->answer(request);
  if (!answer || answer->status < 200 || answer->status > 299) return nullptr;
  if (answer->sharedBody) return answer->sharedBody;
  return std::make_shared<const std::string>(std::move(answer->body));
}

std::shared_ptr<const std::string> ShapedEngine::list(const hvsim::Follow& follow) const {
  std::lock_guard<std::mutex> lock(listMutex_);
  std::shared_ptr<const std::string>& kept = lists_[KeyOf(follow)];
  if (!kept) kept = std::make_shared<const std::string>(bodies_.vmList(count_, follow));
  return kept;
}

std::optional<hvtest::Answer> ShapedEngine::answer(const hvtest::Request& request) const {
  if (request.method != "GET") return std::nullopt;
  if (request.path == kApi) return hvtest::Answer::xml(200, bodies_.api());
  std::string collection, id, rest;
  if (!SplitPath(request.path, collection, id, rest)) return std::nullopt;
  hvsim::Follow follow;
  if (std::optional<std::string> links =
          hvsim::queryValue(hvsim::parseQuery(request.query), "follow")) {
    try {
      follow = hvsim::parseFollow(RouteOf(collection, id, rest), *links);
    } catch (const hvsim::Failure& refused) {
      return hvtest::Answer::engineFault(refused.status, refused.reason, refused.detail);
    }
  }
  auto xml = [](std::string body) { return hvtest::Answer::xml(200, std::move(body)); };
  if (collection == "vms" && id.empty()) {
    // Shared, not copied: a copy of a 92 MiB list per answer costs more than sending it.
    return hvtest::Answer::xml(200, list(follow));
  } else if (collection == "vms" && rest.empty()) {
    return xml(bodies_.vm(id, follow));
  } else if (collection == "vms" && rest == "diskattachments") {
    return xml(bodies_.attachments(id, follow.disks));
  } else if (collection == "disks" && rest.empty()) {
    return xml(bodies_.disk(id));
  } else if (collection == "clusters" && rest.empty()) {
    return xml(bodies_.cluster(id));
  } else if (collection == "hosts" && rest.empty()) {
    return xml(bodies_.host(id));
  } else if (collection == "datacenters" && rest.empty()) {
    return xml(bodies_.dataCenter(id));
  } else if (collection == "storagedomains" && rest.empty()) {
    return xml(bodies_.storageDomain(id));
  }
  return std::nullopt;
}

}  // namespace hvbench
