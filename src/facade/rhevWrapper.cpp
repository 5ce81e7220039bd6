// The facade's lifecycle, connection, version accessors and errors.
#include "facade/guard.h"
#include "facade/rhevNameCache.h"
#include "hypervale/hypervale.h"
#include "operations/rhevOperations.h"
#include "queries/rhevQueries.h"
#include "transport/rhevConnection.h"
#include "xml/rhevParser.h"

namespace Hypervale {

TzHypervale::TzHypervale()
    : KwEvent(nullptr),
      connection(std::make_unique<TzRhevConnection>()),
      parser(std::make_unique<TzRhevParser>()),
      queries(std::make_unique<TzRhevQueries>(connection.get(), parser.get())),
      operations(std::make_unique<TzRhevOperations>(connection.get(), parser.get(), queries.get())),
      nameCache(std::make_unique<TzRhevNameCache>(queries.get())) {}

// Here, where the workers are complete types.
TzHypervale::~TzHypervale() = default;

bool TzHypervale::connect(const std::string& server, const std::string& user,
                          const std::string& password) try {
  std::string response;
  if (!connection->connect(server, user, password, response)) return false;
  if (!parser->DetectVersion(response, apiInfo)) return false;
  connection->setParser(parser.get());
  Debug(HV_FUNC, "Connection successful with [%s] [%s] Version [%s]", server.c_str(),
        apiInfo.productInfo.name.c_str(), apiInfo.productInfo.version.fullVersion.c_str());
  return true;
} catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

bool TzHypervale::checkConnection() try { return connection->checkConnection(); } catch (...) {
  return UnexpectedFailure(*this, HV_FUNC);
}

std::string TzHypervale::getLastError() { return connection->getLastError(); }

void TzHypervale::EnableDebug() {
  if (connection) connection->enableDebug();
}

std::string TzHypervale::getConnectionVersion() { return apiInfo.productInfo.version.fullVersion; }

unsigned int TzHypervale::getMajorVersion() { return apiInfo.productInfo.version.major; }

}  // namespace Hypervale

namespace Hypervale {

std::int32_t TzHypervale::getSchemaVersion() { return parser->getSchemaVersion(); }

std::int64_t TzHypervale::getLastErrorCode() { return connection->getLastErrorCode(); }

}  // namespace Hypervale
