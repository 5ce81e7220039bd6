// Remembers the names of data centers, clusters, hosts and storage domains by id, so parent
// names are asked of the engine once per id.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/kwDebug.h"
#include "hypervale/records.h"

namespace Hypervale {

class TzRhevQueries;

class TzRhevNameCache : public KwDebug {
 public:
  explicit TzRhevNameCache(TzRhevQueries* queries);
  ~TzRhevNameCache() override;
  TzRhevNameCache(const TzRhevNameCache&) = delete;
  TzRhevNameCache& operator=(const TzRhevNameCache&) = delete;

  void CacheName(const std::string& key, const std::string& value);
  void CacheDataCenterNames(const std::vector<SDataCenterInfoLib>& list);
  void CacheClusterNames(const std::vector<SClusterInfoLib>& list);
  void CacheHostNames(const std::vector<SHostInfoLib>& list);
  void CacheStorageDomainNames(const std::vector<SStorageDomainInfoLib>& list);

  // The cached name, or the engine's answer to a lookup by id (remembered only when the
  // lookup succeeded); empty when the engine does not know the id.
  std::string GetDataCenterName(const std::string& id);
  std::string GetClusterName(const std::string& id);
  std::string GetHostName(const std::string& id);
  std::string GetStorageDomainName(const std::string& id);

  size_t size() const { return names.size(); }

 private:
  template <typename Record>
  void CacheRecordNames(const std::vector<Record>& list);
  template <typename Record>
  std::string GetName(const std::string& id,
                      bool (TzRhevQueries::*lookup)(const std::string&, const std::string&, Record&,
                                                    UINT64));

  TzRhevQueries* queries;
  std::map<std::string, std::string> names;
};

}  // namespace Hypervale
