// Storage domain records: real bodies of both API versions, sizes, and the creation and attach
// bodies.
#include <gtest/gtest.h>

#include "support/record_test_support.h"

namespace Hypervale {
namespace {

using recordtest::Join;
using std::to_string;

std::string Domain(const SStorageDomainInfoLib& d) {
  std::string dataCenters;
  for (const auto& id : d.dataCenterIds) dataCenters += id + ";";
  return Join({d.id, d.name, d.type, d.status, d.storageType, d.storageAddress, d.storagePath,
               to_string(d.available), to_string(d.used), to_string(d.committed),
               d.storageFormat + d.hostName + d.dataCenterName, dataCenters});
}

TEST(StorageDomainReaderTest, RealBodiesAndSizes) {
  recordtest::ExpectReads(
      "storage_domains", &TzRhevParser::parseStorageDomainInfo,
      &TzRhevParser::parseStorageDomainInfoList, Domain,
      {
          // Outside a data center attached domains carry no "status" ("external_status" is not
          // it) but name their data center; inside one, the lone "data_center" is not read.
          {"v3/storage_domain.xml", 0,
           "ee74~2ca0|data|data||nfs|192.168.1.106|/home/pkliczewski/export/"
           "hosted|849329782784|140660178944|15032385536||0000~02c0;"},
          {"v3/data_center_storage_domains.xml", 0,
           "d0a7~9f96|RHEVM31-1|data|active|iscsi|||137438953472|136365211648|228707008512||"},
          {"v4/storage_domain.xml", 0,
           "4a42~3669|master-data1|data||nfs|venus-vdsb.usersys.redhat.com|/home/nfsshare/boris/"
           "master/data1|187904819200|19327352832|1073741824||5a55~028a;"},
          {"v4/storage_domains.xml", 3, "7334~096b|ovirt-glance|image|unattached|glance|||0|0|0||"},
          // The addresses of an iSCSI domain's logical units are not the domain's.
          {"v4/data_center_storage_domains.xml", 0,
           "6ddf~3118|okscsi|data|active|iscsi|||39728447488|5368709120|0||2812~e507;"},
          {"<storage_domain><committed>18446744073709551615</committed><used>4294967297</"
           "used><available>4294967296</available></storage_domain>",
           0, "|||||||4294967296|4294967297|18446744073709551615||"},
      });
}

TEST(StorageDomainWriterTest, CreationAndAttachBodies) {
  TzRhevParser parser = recordtest::ParserAt(4, 2, 0);
  SStorageDomainInfoLib domain;
  domain.name = "mydata";
  domain.type = "iso";  // only data domains are created
  domain.storageType = "nfs";
  domain.storageAddress = "mynfs.example.com";
  domain.storagePath = "/exports/mydata";
  domain.hostName = "myhost";
  domain.id = domain.description = domain.status = "never-written";
  domain.available = 1;
  const auto written = [&] {
    return recordtest::Written(parser, domain, &TzRhevParser::serializeStorageDomainInfo);
  };
  recordtest::ExpectShapeOfRequest("v4/request-add-storage-domain.xml", written(),
                                   {"storage_domain/description"});
  // The v3 example leaves address and path to a separate file and adds a test-suite field.
  domain.name = "DefaultNfsSD";
  domain.hostName = "DefaultHost";
  domain.storageFormat = "v3";
  recordtest::ExpectShapeOfRequest(
      "v3/request-add-storage-domain.xml", written(),
      {"storage_domain/description", "storage_domain/format"},
      {"storage_domain/storage/address", "storage_domain/storage/path"});
  // A data center named: the body attaches the domain.
  domain.name = "data1";
  domain.dataCenterName = "dc";
  recordtest::ExpectShapeOfRequest("v4/request-attach-storage-domain.xml", written(), {});
}

}  // namespace
}  // namespace Hypervale
