// The only door to the engine: connection set-up, URLs, requests with retry and
// re-connect, request and response logging, and capture of the engine's fault text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/kwDebug.h"
#include "transport/libCurl.h"

namespace Hypervale {

class TzRhevParser;

class TzRhevConnection : public KwDebug {
 public:
  TzRhevConnection();
  ~TzRhevConnection() override;
  TzRhevConnection(const TzRhevConnection&) = delete;
  TzRhevConnection& operator=(const TzRhevConnection&) = delete;

  void enableDebug();
  // Refuses, sending nothing, a server name that carries user information ("user:pw@host").
  bool connect(const std::string& server, const std::string& user, const std::string& password,
               std::string& response);
  bool _connect(std::string& response);
  bool computeUrl(const std::string& server, const std::string& path, std::string& url);
  bool checkConnection();
  void setParser(TzRhevParser* parser);

  // `extraHeader`, when given, is one more header line sent with this request only.
  bool get(const std::string& path, std::string& response, bool reportErrors,
           const std::string& extraHeader = std::string());
  bool post(const std::string& path, const std::string& body, std::string& response);
  bool put(const std::string& path, const std::string& body, std::string& response);
  bool del(const std::string& path, const std::string& body, std::string& response);
  bool sendReq(HTTP_REQ_TYPE method, const std::string& path, const std::string& body,
               std::string& response, bool reportErrors,
               const std::string& extraHeader = std::string());
  // One send with the transport settings as the configuration holds them now.
  bool _sendReq(HTTP_REQ_TYPE method, const std::string& path, const std::string& body,
                std::string& response, bool reportErrors,
                const std::string& extraHeader = std::string());
  // `withCredentials` false leaves out the basic-authentication credentials (the certificate
  // probe over plain HTTP).
  bool setCommonCurlHeaders(TzLibCurl& client, bool withCredentials = true);
  void LogRequest(HTTP_REQ_TYPE method, const std::string& url, const std::string& body);
  void LogResponse(HTTP_REQ_TYPE method, const std::string& url, const std::string& response);
  void SetLastErrorFromResponse(const std::string& response);

  std::string getLastError() const { return lastError; }
  std::int64_t getLastErrorCode() const { return lastErrorCode; }
  // The HTTP status of the last answer, success or not; 0 when none arrived.
  std::int64_t getLastStatus() const { return lastStatus; }
  bool isConnected() const { return connected; }
  const std::string& getUser() const { return user; }
  const std::string& getApiVersion() const { return apiVersion; }

 private:
  // One send with settings read once for the whole request (all its sends).
  bool _sendReq(HTTP_REQ_TYPE method, const std::string& path, const std::string& body,
                std::string& response, bool reportErrors, const std::string& extraHeader,
                const TransportSettings& settings);
  bool Connect(const TransportSettings& settings, std::string& response);
  // Fetches the public CA resource over plain HTTP: at most 1 MiB, counted and not kept.
  bool ProbeCertificate(const TransportSettings& settings);
  // Refuses a request whose path is empty: a path builder refused an id or an engine link.
  bool HasResourcePath(HTTP_REQ_TYPE method, const std::string& path);
  bool InitClient(TzLibCurl& client, const TransportSettings& settings, bool keepBody = true);
  // Keeps the session cookie the engine set with this answer, if it set one.
  void KeepSessionCookie(TzLibCurl& client);
  // Ends the engine session this connection holds, where there is one: one request with the
  // session cookie and without "Prefer: persistent-auth" or credentials, bounded by the connect
  // time-out. Its outcome changes nothing for the caller.
  void EndSession();
  void DropSession();
  static void ResponseText(TzLibCurl& client, std::string& response);

  std::string server;
  std::string user;
  std::string password;
  std::string apiVersion;
  // The engine session ("JSESSIONID=..."), kept from the login at connect so that later
  // requests are not each a login of their own ("nRhevPersistentAuth"). A secret: wiped.
  std::string sessionCookie;
  bool persistentAuth;
  bool sessionRefused;  // the engine kept no session: Basic on every request
  bool debugEnabled;
  bool connected;
  std::string lastError;
  std::int64_t lastErrorCode;
  std::int64_t lastStatus = 0;
  TzRhevParser* parser;
  // Connections and TLS sessions the requests share ("nRhevReuseConnections"); created on
  // the first request that reuses, dropped at every (re-)connect. Each client holds it while
  // it sends, so dropping it here never frees it under a request in flight.
  std::shared_ptr<curl::ConnectionPool> pool;
};

}  // namespace Hypervale
