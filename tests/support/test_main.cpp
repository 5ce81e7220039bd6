// Test entry point: the XML library is initialised once per process, as a host would.
#include <gtest/gtest.h>

#include "hypervale/host.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  Hypervale::InitializeXmlLibrary();
  const int result = RUN_ALL_TESTS();
  Hypervale::TerminateXmlLibrary();
  return result;
}
