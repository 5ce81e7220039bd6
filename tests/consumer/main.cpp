// A program outside the tree that uses the installed library: it builds the facade, reads the
// accessors that need no engine, and fails to connect to a port where nothing listens.
#include <hypervale/hypervale.h>

#include <cstdio>

int main() {
  Hypervale::InitializeXmlLibrary();
  Hypervale::SetLogThreshold(-1);  // nothing to see here
  int failures = 0;
  {
    Hypervale::TzHypervale hv;
    failures += hv.getMajorVersion() != 0;
    failures += !hv.getConnectionVersion().empty();
    failures += hv.checkConnection();  // never connected: false without a request
    Hypervale::SetConfigValue("VirtualServer", "nRhevConnectTimeoutSec", "2");
    failures += hv.connect("127.0.0.1:1", "nobody", "nothing");
    std::string ovf = "<TemplateId>abc</TemplateId>";
    hv.updateOVF(ovf);
    failures += ovf != "<TemplateId>00000000-0000-0000-0000-000000000000</TemplateId>";
  }
  Hypervale::TerminateXmlLibrary();
  std::printf("consumer: %s\n", failures == 0 ? "ok" : "FAILED");
  return failures == 0 ? 0 : 1;
}
