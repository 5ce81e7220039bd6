// The facade's lifecycle, connection, version accessors and errors.
#include "facade/guard.h"
#include "facade/rhevNameCache.h"
#include "hypervale/hypervale.h"
#include "operations/rhevOperations.h"
#include "queries/rhevQueries.h"
#include "transport/rhevConnection.h"
#include "xml/rhevParser.h"

namespace Hypervale {

namespace {
template <typename T>
void DeleteAndClear(T*& object) {
  delete object;
  object = nullptr;
}
}  // namespace

TzHypervale::TzHypervale()
    : KwEvent(nullptr),
      connection(new TzRhevConnection()),
      parser(new TzRhevParser()),
      queries(new TzRhevQueries(connection, parser)),
      operations(new TzRhevOperations(connection, parser, queries)),
      nameCache(new TzRhevNameCache(queries)) {}

TzHypervale::~TzHypervale() {
  DeleteAndClear(nameCache);
  DeleteAndClear(operations);
  DeleteAndClear(queries);
  DeleteAndClear(parser);
  DeleteAndClear(connection);
}

bool TzHypervale::connect(const std::string& server, const std::string& user,
                          const std::string& password) try {
  std::string response;
  if (!connection->connect(server, user, password, response)) return false;
  if (!parser->DetectVersion(response, apiInfo)) return false;
  connection->setParser(parser);
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
