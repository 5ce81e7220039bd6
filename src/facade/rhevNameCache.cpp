#include "facade/rhevNameCache.h"

#include "queries/rhevQueries.h"

namespace Hypervale {

TzRhevNameCache::TzRhevNameCache(TzRhevQueries* q) : KwDebug(nullptr), queries(q) {}

TzRhevNameCache::~TzRhevNameCache() = default;

void TzRhevNameCache::CacheName(const std::string& key, const std::string& value) {
  const auto found = names.find(key);
  if (found != names.end()) {
    Debug(HV_FUNC, "Overriding map entry key [%s] old value[%s] new value[%s]", key.c_str(),
          found->second.c_str(), value.c_str());
    found->second = value;
    return;
  }
  names.emplace(key, value);
}

template <typename Record>
void TzRhevNameCache::CacheRecordNames(const std::vector<Record>& list) {
  for (const Record& record : list) names[record.id] = record.name;
}

void TzRhevNameCache::CacheDataCenterNames(const std::vector<SDataCenterInfoLib>& list) {
  CacheRecordNames(list);
}

void TzRhevNameCache::CacheClusterNames(const std::vector<SClusterInfoLib>& list) {
  CacheRecordNames(list);
}

void TzRhevNameCache::CacheHostNames(const std::vector<SHostInfoLib>& list) {
  CacheRecordNames(list);
}

void TzRhevNameCache::CacheStorageDomainNames(const std::vector<SStorageDomainInfoLib>& list) {
  CacheRecordNames(list);
}

template <typename Record>
std::string TzRhevNameCache::GetName(const std::string& id,
                                     bool (TzRhevQueries::*lookup)(const std::string&,
                                                                   const std::string&, Record&,
                                                                   UINT64)) {
  const auto found = names.find(id);
  if (found != names.end()) return found->second;
  Record record;
  if (!(queries->*lookup)("", id, record, 0)) return std::string();
  names[record.id] = record.name;
  // The answer's id is the engine's; a different one leaves the requested id unnamed.
  const auto stored = names.find(id);
  return stored != names.end() ? stored->second : std::string();
}

std::string TzRhevNameCache::GetDataCenterName(const std::string& id) {
  return GetName(id, &TzRhevQueries::getDataCenterInfo);
}

std::string TzRhevNameCache::GetClusterName(const std::string& id) {
  return GetName(id, &TzRhevQueries::getClusterInfo);
}

std::string TzRhevNameCache::GetHostName(const std::string& id) {
  return GetName(id, &TzRhevQueries::getHostInfo);
}

std::string TzRhevNameCache::GetStorageDomainName(const std::string& id) {
  return GetName(id, &TzRhevQueries::getStorageDomainInfo);
}

}  // namespace Hypervale
