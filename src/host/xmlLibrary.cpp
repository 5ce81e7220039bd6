#include "host/xmlLibrary.h"

#include <mutex>
#include <xercesc/util/PlatformUtils.hpp>

#include "host/xmlText.h"
#include "hypervale/host.h"

namespace Hypervale {
namespace {
// Xerces counts its initialisations without a lock of its own.
std::mutex& InitMutex() {
  static std::mutex mutex;
  return mutex;
}
}  // namespace

void InitializeXmlLibrary() {
  std::lock_guard<std::mutex> lock(InitMutex());
  xercesc::XMLPlatformUtils::Initialize();
}

void TerminateXmlLibrary() {
  std::lock_guard<std::mutex> lock(InitMutex());
  xercesc::XMLPlatformUtils::Terminate();
}

namespace xml {

bool HoldXmlLibrary() {
  std::lock_guard<std::mutex> lock(InitMutex());
  if (!XmlLibraryReady()) return false;
  xercesc::XMLPlatformUtils::Initialize();
  return true;
}

void ReleaseXmlLibrary() {
  std::lock_guard<std::mutex> lock(InitMutex());
  xercesc::XMLPlatformUtils::Terminate();
}

}  // namespace xml
}  // namespace Hypervale
