#include <mutex>
#include <xercesc/util/PlatformUtils.hpp>

#include "hypervale/host.h"

namespace Hypervale {
namespace {
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

}  // namespace Hypervale
