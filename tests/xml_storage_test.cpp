// Storage domain records: real bodies of both API versions, sizes, and the creation and
// attach bodies.
#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "support/record_test_support.h"
#include "support/test_support.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace {

using hvtest::Fixture;
using recordtest::Join;
using recordtest::RootOf;
using std::to_string;

std::string Summary(const SStorageDomainInfoLib& d) {
  std::string dataCenters;
  for (const auto& id : d.dataCenterIds) dataCenters += id + ";";
  return Join({d.id, d.name, d.type, d.status, d.storageType, d.storageAddress, d.storagePath,
               to_string(d.available), to_string(d.used), to_string(d.committed),
               d.storageFormat + d.hostName + d.dataCenterName, dataCenters});
}

TEST(StorageDomainReaderTest, RealBodies) {
  struct Case {
    const char* fixture;
    size_t index;  // in a list body
    const char* summary;
  };
  const Case cases[] = {
      // Outside a data center attached domains carry no "status" ("external_status" is not it)
      // but name their data center; inside one, the lone "data_center" reference is not read.
      {"v3/storage_domain.xml", 0,
       "ee745353-c069-4de8-8d76-ec2e155e2ca0|data|data||nfs|192.168.1.106|"
       "/home/pkliczewski/export/hosted|849329782784|140660178944|15032385536||"
       "00000001-0001-0001-0001-0000000002c0;"},
      {"v3/storage_domains.xml", 0,
       "f291819d-6f09-4a5b-9e48-0bc40898362b|Export|export||nfs|192.168.252.65|/srv/export|"
       "25769803776|37580963840|0||"},
      {"v3/data_center_storage_domains.xml", 0,
       "d0a7d751-46bc-495a-a312-e5d010059f96|RHEVM31-1|data|active|iscsi|||137438953472|"
       "136365211648|228707008512||"},
      {"v4/storage_domain.xml", 0,
       "4a4233bf-3173-4d3d-b4e3-c5c978383669|master-data1|data||nfs|"
       "venus-vdsb.usersys.redhat.com|/home/nfsshare/boris/master/data1|187904819200|"
       "19327352832|1073741824||5a55d518-028a-0113-02dd-00000000028a;"},
      {"v4/storage_domains.xml", 3,
       "733470ee-8a37-4a22-8d9f-fa008c35096b|ovirt-glance|image|unattached|glance|||0|0|0||"},
      // The addresses of an iSCSI domain's logical units are not the domain's.
      {"v4/data_center_storage_domains.xml", 0,
       "6ddff4e6-b15f-448a-a436-18671a4b3118|okscsi|data|active|iscsi|||39728447488|5368709120|"
       "0||2812e1c2-fb19-4bf9-ac42-74c069a5e507;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    SStorageDomainInfoLib domain;
    ASSERT_TRUE(recordtest::ReadOneOf(Fixture(c.fixture), "storage_domains", c.index, domain,
                                      &TzRhevParser::parseStorageDomainInfo,
                                      &TzRhevParser::parseStorageDomainInfoList));
    EXPECT_EQ(Summary(domain), c.summary);
    EXPECT_NE(domain.href.find("/storagedomains/" + domain.id), std::string::npos);
  }
}

TEST(StorageDomainReaderTest, StatusFormsSizesAndChildOrder) {
  const char* bodies[] = {
      "<storage_domain><status><state>active</state></status>"
      "<storage><address>nfs1</address><path>/e</path><type>nfs</type></storage>"
      "<available>4294967296</available><used>4294967297</used>"
      "<committed>18446744073709551615</committed></storage_domain>",
      "<storage_domain><committed>18446744073709551615</committed><status>\tactive </status>"
      "<storage><type>nfs</type><path>/e</path><address>nfs1</address></storage>"
      "<used>4294967297</used><available>4294967296</available></storage_domain>",
  };
  for (const char* body : bodies) {
    TzRhevParser parser;
    SStorageDomainInfoLib domain;
    ASSERT_TRUE(parser.parseStorageDomainInfo(body, domain));
    // storage/type is not the domain's type.
    EXPECT_EQ(Summary(domain),
              "|||active|nfs|nfs1|/e|4294967296|4294967297|18446744073709551615||");
  }
}

SStorageDomainInfoLib NewNfsDomain(const std::string& name, const std::string& host) {
  SStorageDomainInfoLib domain;
  domain.name = name;
  domain.type = "iso";  // only data domains are created
  domain.storageFormat = "v3";
  domain.storageType = "nfs";
  domain.storageAddress = "mynfs.example.com";
  domain.storagePath = "/exports/mydata";
  domain.hostName = host;
  domain.id = domain.description = domain.status = "never-written";
  domain.available = 1;
  return domain;
}

TEST(StorageDomainWriterTest, CreationAndAttachBodies) {
  TzRhevParser parser = recordtest::ParserAt(4, 2, 0);
  SStorageDomainInfoLib domain = NewNfsDomain("mydata", "myhost");
  std::string body;
  ASSERT_TRUE(parser.serializeStorageDomainInfo(domain, body));
  EXPECT_EQ(RootOf(body),
            "<storage_domain><name>mydata</name><type>data</type>"
            "<storage_format>v3</storage_format><storage><type>nfs</type>"
            "<address>mynfs.example.com</address><path>/exports/mydata</path></storage>"
            "<host><name>myhost</name></host></storage_domain>");
  recordtest::ExpectSendsShapeOf(Fixture("v4/request-add-storage-domain.xml"), body,
                                 {"storage_domain/description"});

  // The v3 example leaves address and path to a separate file and adds a test-suite field.
  domain = NewNfsDomain("DefaultNfsSD", "DefaultHost");
  ASSERT_TRUE(parser.serializeStorageDomainInfo(domain, body));
  recordtest::ExpectSendsShapeOf(Fixture("v3/request-add-storage-domain.xml"), body,
                                 {"storage_domain/description", "storage_domain/format"});

  domain.name = "data1";
  domain.dataCenterName = "dc";
  ASSERT_TRUE(parser.serializeStorageDomainInfo(domain, body));
  EXPECT_EQ(RootOf(body), "<storage_domain><name>data1</name></storage_domain>");
  EXPECT_EQ(recordtest::ShapeOf(body),
            recordtest::ShapeOf(Fixture("v4/request-attach-storage-domain.xml")));
}

}  // namespace
}  // namespace Hypervale
