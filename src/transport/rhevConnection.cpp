#include "transport/rhevConnection.h"

#include <algorithm>

#include "host/logText.h"
#include "host/platformInfo.h"
#include "host/ubSleep.h"
#include "host/ubString.h"
#include "transport/secrets.h"
#include "xml/rhevParser.h"

namespace Hypervale {
namespace {

const char kCertificatePath[] =
    "ovirt-engine/services/pki-resource?resource=ca-certificate&format=X509-PEM-CA";
const char kApiRootPath[] = "ovirt-engine/api";
const char kContentType[] = "Content-Type: application/xml";
const char kPersistentAuth[] = "Prefer: persistent-auth";
const int kMaxSends = 4;
const unsigned long kConflictWaitMs = 5000;
const unsigned long kReconnectWaitMs = 2000;
// The certificate probe and the end of a session get the connect time-out and these seconds.
const unsigned long kSmallAnswerExtraSec = 3;
// Engine texts (fault details, bodies) in an error line or the last error.
const size_t kFaultExcerptBytes = 4096;

}  // namespace

TzRhevConnection::TzRhevConnection()
    : KwDebug(nullptr),
      persistentAuth(true),
      sessionRefused(false),
      debugEnabled(false),
      connected(false),
      lastErrorCode(0),
      parser(nullptr) {}

TzRhevConnection::~TzRhevConnection() {
  try {
    EndSession();
  } catch (...) {
  }
  parser = nullptr;
  Wipe(password);
}

void TzRhevConnection::enableDebug() { debugEnabled = true; }

void TzRhevConnection::setParser(TzRhevParser* p) { parser = p; }

bool TzRhevConnection::connect(const std::string& serverName, const std::string& userName,
                               const std::string& userPassword, std::string& response) {
  // The earlier engine session ends with the connection it belongs to.
  EndSession();
  // A new connect replaces the earlier connection, also when it fails.
  connected = false;
  // "user:password@host" would put the password into every URL and log line; credentials
  // travel only in the authentication header. Nothing is kept or sent.
  const size_t at = serverName.rfind('@');
  if (at != std::string::npos) {
    Error(HV_FUNC,
          "Refusing the server name [...@%s]: it carries user information; give the user and "
          "the password as their own arguments",
          serverName.substr(at + 1).c_str());
    return false;
  }
  server = serverName;
  user = userName;
  Wipe(password);
  password = userPassword;

  const TzPlatformInfo config;
  unsigned long keepSession = 1;
  config.getNumber("VirtualServer", "nRhevPersistentAuth", &keepSession);
  persistentAuth = keepSession != 0;
  sessionRefused = false;
  std::vector<std::string> refusals;
  const TransportSettings settings = TransportSettings::FromConfiguration(&refusals);
  for (const std::string& refusal : refusals) Error(HV_FUNC, "Warning: %s", refusal.c_str());
  if (settings.tlsInsecure) {
    Error(HV_FUNC, "Warning: TLS certificate verification is disabled for [%s] (nRhevTLSInsecure)",
          server.c_str());
  }
  if (Connect(settings, response)) return true;

  config.getString("VirtualServer", "sRHEVMAPIVERSION", &apiVersion);
  if (!apiVersion.empty()) {
    Debug(HV_FUNC, "Regkey sRHEVMAPIVERSION is set as [%s]", apiVersion.c_str());
  } else {
    apiVersion = "4";
  }
  return Connect(settings, response);
}

bool TzRhevConnection::InitClient(TzLibCurl& client, const TransportSettings& settings,
                                  bool keepBody) {
  if (!settings.reuseConnections) {
    pool.reset();  // clients still sending keep it until they end
  } else if (!pool) {
    pool = curl::ConnectionPool::Create();
    if (!pool) DebugLvl(HV_FUNC, 2, "Connections are not shared: libcurl refused a share object");
  }
  // First: the client sends with a handle the pool kept, when it has one.
  client.TzLibCurlUseConnectionPool(settings.reuseConnections ? pool : nullptr);
  if (!client.TzLibCurlInit(settings, kContentType, keepBody)) {
    Error(HV_FUNC, "Failed to Initialize Curl Library");
    return false;
  }
  return true;
}

void TzRhevConnection::ResponseText(TzLibCurl& client, std::string& response) {
  client.TakeHttpResponse(response);
}

bool TzRhevConnection::_connect(std::string& response) {
  return Connect(TransportSettings::FromConfiguration(), response);
}

bool TzRhevConnection::ProbeCertificate(const TransportSettings& settings) {
  std::string certificateUrl;
  computeUrl(server, kCertificatePath, certificateUrl);
  TzLibCurl client;
  // The certificate text is not kept (trust comes from the system store or sRhevCAFile): the
  // probe only counts its bytes.
  if (!InitClient(client, settings.ForSmallAnswer(kSmallAnswerExtraSec), false)) return false;
  // The certificate is public and fetched over plain HTTP: the probe carries no credentials.
  if (!setCommonCurlHeaders(client, false)) return false;
  if (!client.TzLibCurlSendHttpReq(HTTP_REQ_GET, certificateUrl.c_str(), nullptr, 0, false,
                                   nullptr)) {
    Debug(HV_FUNC, "Error: Failed to get Certificate file");
    return false;
  }
  return true;
}

bool TzRhevConnection::Connect(const TransportSettings& settings, std::string& response) {
  if (user.find('@') == std::string::npos) user += "@internal";
  // A (re-)connect starts on fresh connections and a fresh login: after a 401 the engine may
  // have dropped what it knew of the old ones, and another server or user inherits nothing.
  pool.reset();
  DropSession();

  if (!ProbeCertificate(settings)) return false;
  if (!_sendReq(HTTP_REQ_GET, kApiRootPath, std::string(), response, true, std::string(),
                settings)) {
    return false;
  }
  if (persistentAuth && !sessionRefused && sessionCookie.empty()) {
    sessionRefused = true;
    Error(HV_FUNC,
          "Warning: the engine at [%s] kept no session for this connection; every request now "
          "logs in on its own (Basic credentials)",
          server.c_str());
  }
  connected = true;
  return true;
}

void TzRhevConnection::KeepSessionCookie(TzLibCurl& client) {
  std::string fresh;
  if (!client.TakeSessionCookie(fresh)) return;
  // A new session after the login at connect: the engine logged in again by itself (the old
  // session ran out of idle time) with the credentials sent along.
  if (connected && !sessionCookie.empty()) {
    Debug(HV_FUNC, "Info: logged in to [%s] again; the engine session had ended", server.c_str());
  }
  DropSession();
  sessionCookie.swap(fresh);
}

void TzRhevConnection::DropSession() { Wipe(sessionCookie); }

void TzRhevConnection::EndSession() {
  if (sessionCookie.empty()) return;
  std::string url;
  computeUrl(server, kApiRootPath, url);
  TzLibCurl client;
  const TransportSettings settings =
      TransportSettings::FromConfiguration().ForSmallAnswer(kSmallAnswerExtraSec);
  if (InitClient(client, settings) &&
      client.TzLibCurlAppendHeader(HTTP_HDR_LINE, "Accept: application/xml") &&
      client.TzLibCurlAppendHeader(HTTP_HDR_SESSION, sessionCookie.c_str())) {
    // The cookie without "Prefer: persistent-auth" ends the session with this request.
    const bool ended =
        client.TzLibCurlSendHttpReq(HTTP_REQ_GET, url.c_str(), nullptr, 0, false, nullptr);
    DebugLvl(HV_FUNC, ended ? 1 : 0, "Engine session at [%s] %s", server.c_str(),
             ended ? "ended" : "not ended; the engine ends it when its idle time runs out");
  }
  DropSession();
}

bool TzRhevConnection::computeUrl(const std::string& serverName, const std::string& path,
                                  std::string& url) {
  // Links come from engine hrefs, which start with "/"; joining them as they are would send
  // "//ovirt-engine/...", a different path that only lenient servers map back.
  const size_t start = path.find_first_not_of('/');
  const std::string relative = start == std::string::npos ? std::string() : path.substr(start);
  url = (path == kCertificatePath ? "http://" : "https://") + serverName + "/" + relative;
  DebugLvl(HV_FUNC, 2, "Computed URL [%s]", url.c_str());
  return true;
}

bool TzRhevConnection::checkConnection() {
  if (!connected) return false;
  std::string response;
  return get(kApiRootPath, response, true);
}

bool TzRhevConnection::get(const std::string& path, std::string& response, bool reportErrors,
                           const std::string& extraHeader) {
  return sendReq(HTTP_REQ_GET, path, std::string(), response, reportErrors, extraHeader);
}

bool TzRhevConnection::post(const std::string& path, const std::string& body,
                            std::string& response) {
  return sendReq(HTTP_REQ_POST, path, body, response, true);
}

bool TzRhevConnection::put(const std::string& path, const std::string& body,
                           std::string& response) {
  return sendReq(HTTP_REQ_PUT, path, body, response, true);
}

bool TzRhevConnection::del(const std::string& path, const std::string& body,
                           std::string& response) {
  return sendReq(HTTP_REQ_DELETE, path, body, response, true);
}

bool TzRhevConnection::sendReq(HTTP_REQ_TYPE method, const std::string& path,
                               const std::string& body, std::string& response, bool reportErrors,
                               const std::string& extraHeader) {
  if (!HasResourcePath(method, path)) return false;
  const TransportSettings settings = TransportSettings::FromConfiguration();
  bool reconnected = false;
  for (int attemptsLeft = kMaxSends; attemptsLeft > 0; --attemptsLeft) {
    if (_sendReq(method, path, body, response, reportErrors, extraHeader, settings)) return true;
    if (!reconnected && lastErrorCode == 401) {
      connected = false;
      lastError.clear();
      UBSLEEP(kReconnectWaitMs, __FILE__, __LINE__);
      Error(HV_FUNC, "Re-connecting to [%s] ...", server.c_str());
      std::string scratch;
      if (!_connect(scratch)) {
        // The request's own answer was the 401; what the re-connect got (a 404 from the API
        // root while the engine restarts, say) says nothing of the resource it named.
        lastErrorCode = 401;
        lastError = "Re-connecting to [" + server + "] after an expired session failed" +
                    (lastError.empty() ? std::string() : ": " + lastError);
        return false;
      }
      Error(HV_FUNC, "Re-submitting the request: [%s][%s]", TzLibCurl::GetHttpReqTypeString(method),
            path.c_str());
      reconnected = true;
    } else if (lastErrorCode == 409) {
      UBSLEEP(kConflictWaitMs, __FILE__, __LINE__);
    } else {
      return false;
    }
  }
  return false;
}

bool TzRhevConnection::HasResourcePath(HTTP_REQ_TYPE method, const std::string& path) {
  if (!path.empty()) return true;
  lastError = "Refused: the request names no resource (an id or an engine link was refused)";
  lastErrorCode = 0;
  lastStatus = 0;
  Error(HV_FUNC, "Refusing %s: %s", TzLibCurl::GetHttpReqTypeString(method), lastError.c_str());
  return false;
}

bool TzRhevConnection::_sendReq(HTTP_REQ_TYPE method, const std::string& path,
                                const std::string& body, std::string& response, bool reportErrors,
                                const std::string& extraHeader) {
  if (!HasResourcePath(method, path)) return false;
  return _sendReq(method, path, body, response, reportErrors, extraHeader,
                  TransportSettings::FromConfiguration());
}

bool TzRhevConnection::_sendReq(HTTP_REQ_TYPE method, const std::string& path,
                                const std::string& body, std::string& response, bool reportErrors,
                                const std::string& extraHeader, const TransportSettings& settings) {
  TzLibCurl client;
  if (!InitClient(client, settings)) return false;
  lastError.clear();

  std::string url;
  computeUrl(server, path, url);
  client.TzLibCurlFreeHttpHeaderList();
  if (!setCommonCurlHeaders(client)) return false;
  if (!extraHeader.empty() && !client.TzLibCurlAppendHeader(HTTP_HDR_LINE, extraHeader.c_str())) {
    Error(HV_FUNC, "Failed to set CURL header [%s]", extraHeader.c_str());
    return false;
  }
  if (!body.empty()) LogRequest(method, url, body);

  const bool answered =
      client.TzLibCurlSendHttpReq(method, url.c_str(), body.data(), body.size(), false, nullptr);
  lastStatus = client.GetHttpErrorCode();
  KeepSessionCookie(client);
  if (answered) {
    ResponseText(client, response);
    LogResponse(method, url, response);
    return true;
  }
  if (client.GetHttpErrorCode() == 0) {
    // No answer at all (refused, reset, TLS failure, time-out): the caller learns why, without
    // credentials, which never stand in a URL here.
    lastError = "No answer from the engine at [" + server + "] to " +
                TzLibCurl::GetHttpReqTypeString(method) + " [" + path +
                "]: " + client.GetTransportError();
  }
  if (reportErrors) {
    ResponseText(client, response);
    SetLastErrorFromResponse(response);
    // Engines answer an unknown id with a bare 404: the request itself is what went wrong.
    if (lastError.empty() && client.GetHttpErrorCode() != 0) {
      FormatString(lastError, "The engine answered %d to %s [%s]",
                   static_cast<int>(client.GetHttpErrorCode()),
                   TzLibCurl::GetHttpReqTypeString(method), path.c_str());
    }
    Error(HV_FUNC, "Error: %d. %s [%s]", static_cast<int>(client.GetHttpErrorCode()),
          TzLibCurl::GetHttpReqTypeString(method), url.c_str());
    // Once per send, cut: an engine may answer a failure with megabytes.
    if (!body.empty()) {
      Error(HV_FUNC, "  Req: [%s]", host::Cut(body, kFaultExcerptBytes).c_str());
    }
    if (!response.empty()) {
      Error(HV_FUNC, "  Rsp: [%s]", host::Cut(response, kFaultExcerptBytes).c_str());
    }
  }
  lastErrorCode = client.GetHttpErrorCode();
  return false;
}

bool TzRhevConnection::setCommonCurlHeaders(TzLibCurl& client, bool withCredentials) {
  client.TzLibCurlFreeHttpHeaderList();
  if (withCredentials) {
    std::string credentials;
    credentials.reserve(user.size() + 1 + password.size());  // no shorter copy left behind
    credentials.append(user).append(1, ':').append(password);
    const bool credentialsSet =
        client.TzLibCurlAppendHeader(HTTP_HDR_CREDENTIALS, credentials.c_str());
    Wipe(credentials);
    if (!credentialsSet) {
      Error(HV_FUNC, "Failed to set CURL USERPWD header");
      return false;
    }
  }
  if (!client.TzLibCurlAppendHeader(HTTP_HDR_LINE, "Accept: application/xml")) {
    Error(HV_FUNC, "Failed to set CURL Accept header");
    return false;
  }
  if (!client.TzLibCurlAppendHeader(HTTP_HDR_LINE, "User-Agent: curl/7.32.0")) {
    Error(HV_FUNC, "Failed to set CURL UserAgent header");
    return false;
  }
  if (withCredentials && persistentAuth && !sessionRefused &&
      !client.TzLibCurlAppendHeader(HTTP_HDR_LINE, kPersistentAuth)) {
    Error(HV_FUNC, "Failed to set CURL Prefer header");
    return false;
  }
  if (withCredentials && !sessionCookie.empty() &&
      !client.TzLibCurlAppendHeader(HTTP_HDR_SESSION, sessionCookie.c_str())) {
    Error(HV_FUNC, "Failed to set the session cookie");
    return false;
  }
  if (!apiVersion.empty()) {
    const std::string versionHeader = "Version: " + apiVersion;
    if (!client.TzLibCurlAppendHeader(HTTP_HDR_LINE, versionHeader.c_str())) {
      Error(HV_FUNC, "Failed to set CURL Version header");
      return false;
    }
  }
  if (!client.TzLibCurlSetAdditionalOptionsIntValue(CURLOPT_NOSIGNAL, 1)) {
    Error(HV_FUNC, "Failed to set curl option:[CURLOPT_NOSIGNAL]");
    return false;
  }
  return true;
}

void TzRhevConnection::LogRequest(HTTP_REQ_TYPE method, const std::string& url,
                                  const std::string& body) {
  DebugLvl(HV_FUNC, debugEnabled ? 0 : 2, "Request to %s [%s]: %s",
           TzLibCurl::GetHttpReqTypeString(method), url.c_str(), body.c_str());
}

void TzRhevConnection::LogResponse(HTTP_REQ_TYPE method, const std::string& url,
                                   const std::string& response) {
  DebugLvl(HV_FUNC, debugEnabled ? 0 : 2, "Response from %s [%s]: %s",
           TzLibCurl::GetHttpReqTypeString(method), url.c_str(), response.c_str());
}

void TzRhevConnection::SetLastErrorFromResponse(const std::string& response) {
  if (response.empty() || !parser) return;
  // The agent shows and logs this text: cut like a log line, with its control bytes escaped.
  SFaultInfoLib fault;
  if (parser->parseFault(response, fault, false)) {
    lastError = host::Printable(host::Cut(fault.detail, kFaultExcerptBytes));
    return;
  }
  SActionInfoLib action;
  if (parser->parseAction(response, action, false)) {
    lastError = host::Printable(host::Cut(action.fault.detail, kFaultExcerptBytes));
    return;
  }
  // The body itself is in the response line of the send that got it.
  Error(HV_FUNC, "Unable to parse last error from response (%zu bytes)", response.size());
}

}  // namespace Hypervale
