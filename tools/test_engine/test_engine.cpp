#include "test_engine/test_engine.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "test_engine/server.h"
#include "test_engine/tls_material.h"

namespace hvtest {

namespace {

constexpr const char* kUnauthorizedBody =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
    "<fault><reason>Unauthorized</reason><detail>Unauthorized</detail></fault>";

std::optional<std::string> decodeBase64(std::string_view in) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  while (!in.empty() && in.back() == '=') in.remove_suffix(1);
  if (in.size() % 4 == 1) return std::nullopt;
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : in) {
    int v = value(c);
    if (v < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xff);
    }
  }
  return out;
}

// user and password of a Basic authorization value, if well formed.
std::optional<std::pair<std::string, std::string>> parseBasic(std::string_view value) {
  constexpr std::string_view kScheme = "Basic";
  if (value.size() <= kScheme.size() ||
      !equalsIgnoreCase(value.substr(0, kScheme.size()), kScheme) || value[kScheme.size()] != ' ') {
    return std::nullopt;
  }
  value.remove_prefix(kScheme.size());
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  std::optional<std::string> decoded = decodeBase64(value);
  if (!decoded) return std::nullopt;
  size_t colon = decoded->find(':');
  if (colon == std::string::npos) return std::nullopt;
  return std::make_pair(decoded->substr(0, colon), decoded->substr(colon + 1));
}

}  // namespace

std::optional<std::pair<std::string, std::string>> basicCredentials(const Request& request) {
  std::optional<std::string> value = request.headers.get("Authorization");
  return value ? parseBasic(*value) : std::nullopt;
}

namespace {

// Value of a query parameter (not percent-decoded); nullopt when absent.
std::optional<std::string_view> queryParam(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    size_t eq = pair.find('=');
    if (pair.substr(0, eq) == name) {
      return eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

bool asksForCaPem(const Request& r) {
  if (r.method != "GET" && r.method != "HEAD") return false;
  std::optional<std::string_view> format = queryParam(r.query, "format");
  return queryParam(r.query, "resource") == std::string_view("ca-certificate") &&
         (!format || *format == "X509-PEM-CA");
}

std::string tempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

}  // namespace

TestEngine::TestEngine(Options options)
    : options_(std::move(options)),
      tls_(std::make_unique<TlsMaterial>(TlsMaterial::generate())),
      password_(options_.password),
      requireAuth_(options_.requireAuth) {
  ServerOptions serverOptions;
  serverOptions.port = options_.port;
  serverOptions.limits.maxHeaderBytes = options_.maxHeaderBytes;
  serverOptions.limits.maxBodyBytes = options_.maxBodyBytes;
  serverOptions.timeouts.idle = options_.idleTimeout;
  serverOptions.timeouts.io = options_.ioTimeout;
  serverOptions.maxConnections = options_.maxConnections;
  SslCtxPtr ctx = tls_->newServerContext();
  server_ = std::make_unique<Server>(serverOptions, ctx.get(),
                                     [this](Request& request) { return handle(request); });
}

TestEngine::~TestEngine() {
  stop();
  std::lock_guard<std::mutex> lock(caFileMutex_);
  if (!caFile_.empty()) ::unlink(caFile_.c_str());
}

void TestEngine::stop() { server_->stop(); }

uint16_t TestEngine::port() const { return server_->port(); }

std::string TestEngine::httpUrl() const { return "http://127.0.0.1:" + std::to_string(port()); }

std::string TestEngine::httpsUrl() const { return "https://localhost:" + std::to_string(port()); }

const std::string& TestEngine::caPem() const { return tls_->caPem(); }

const std::string& TestEngine::serverCertPem() const { return tls_->serverCertPem(); }

std::string TestEngine::serverKeyPem() const { return tls_->serverKeyPem(); }

std::string TestEngine::caFile() const {
  std::lock_guard<std::mutex> lock(caFileMutex_);
  if (!caFile_.empty()) return caFile_;
  std::string path = tempDirectory() + "/hypervale-test-ca-XXXXXX.pem";
  int fd = ::mkstemps(path.data(), 4);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "CA file");
  const std::string& pem = caPem();
  size_t done = 0;
  while (done < pem.size()) {
    ssize_t n = ::write(fd, pem.data() + done, pem.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = errno;
      ::close(fd);
      ::unlink(path.c_str());
      throw std::system_error(err, std::generic_category(), "CA file");
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  caFile_ = path;
  return caFile_;
}

void TestEngine::setPassword(std::string password) {
  std::lock_guard<std::mutex> lock(mutex_);
  password_ = std::move(password);
}

void TestEngine::setAuthRequired(bool required) {
  std::lock_guard<std::mutex> lock(mutex_);
  requireAuth_ = required;
}

void TestEngine::script(std::string method, std::string target, std::vector<Answer> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  ScriptKey key(std::move(method), std::move(target));
  if (answers.empty()) {
    scripts_.erase(key);
  } else {
    scripts_[std::move(key)] = Script{std::move(answers), 0};
  }
}

void TestEngine::answer(std::string method, std::string target, Answer answer) {
  std::vector<Answer> answers;
  answers.push_back(std::move(answer));
  script(std::move(method), std::move(target), std::move(answers));
}

void TestEngine::setFallback(Fallback fallback) {
  std::lock_guard<std::mutex> lock(mutex_);
  fallback_ = fallback ? std::make_shared<const Fallback>(std::move(fallback)) : nullptr;
}

void TestEngine::reset() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_.clear();
  }
  clearRequests();
}

std::vector<Request> TestEngine::requests() const {
  std::lock_guard<std::mutex> lock(logMutex_);
  return log_;
}

size_t TestEngine::requestCount(const std::string& method, const std::string& target) const {
  bool anyQuery = target.find('?') == std::string::npos;
  std::lock_guard<std::mutex> lock(logMutex_);
  size_t count = 0;
  for (const Request& r : log_) {
    bool methodMatches = method == "*" || r.method == method;
    bool targetMatches = r.target == target || (anyQuery && r.path == target);
    if (methodMatches && targetMatches) ++count;
  }
  return count;
}

void TestEngine::clearRequests() {
  std::lock_guard<std::mutex> lock(logMutex_);
  log_.clear();
}

bool TestEngine::waitForRequests(size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(logMutex_);
  return logChanged_.wait_for(lock, timeout, [&] { return log_.size() >= n; });
}

size_t TestEngine::acceptedConnections() const { return server_->acceptedConnections(); }

size_t TestEngine::openConnections() const { return server_->openConnections(); }

void TestEngine::closeNextIdleConnection() { server_->closeNextIdleConnection(); }

void TestEngine::log(const Request& request) {
  {
    std::lock_guard<std::mutex> lock(logMutex_);
    log_.push_back(request);
  }
  logChanged_.notify_all();
}

bool TestEngine::validCredentials(const std::string& user, const std::string& password) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return user == options_.user && password == password_;
}

std::optional<Authorization> TestEngine::authorize(Request& request) {
  if (options_.authorizer) {
    if (std::optional<Authorization> decided = options_.authorizer(request)) {
      if (!decided->refusal) request.user = decided->user;
      return decided;
    }
  }
  std::optional<std::pair<std::string, std::string>> credentials = basicCredentials(request);
  std::lock_guard<std::mutex> lock(mutex_);
  bool valid =
      credentials && credentials->first == options_.user && credentials->second == password_;
  if (!valid && requireAuth_) return std::nullopt;
  if (valid) request.user = credentials->first;
  return Authorization{request.user, {}, std::nullopt};
}

std::optional<Answer> TestEngine::scripted(const Request& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Exact target first, then the bare path; at each step a named method beats "*".
  const std::string* targets[] = {&request.target, &request.path};
  size_t steps = request.target == request.path ? 1 : 2;
  for (size_t i = 0; i < steps; ++i) {
    for (const std::string& method : {request.method, std::string("*")}) {
      auto it = scripts_.find(ScriptKey(method, *targets[i]));
      if (it == scripts_.end()) continue;
      Script& s = it->second;
      Answer chosen = s.answers[s.next];
      if (s.next + 1 < s.answers.size()) ++s.next;
      return chosen;
    }
  }
  return std::nullopt;
}

Answer TestEngine::handle(Request& request) {
  // The CA is public: clients fetch it before they can verify anything, let alone log in.
  bool caResource = request.path == kCaResourcePath;
  Answer answer;
  std::optional<Authorization> authorization =
      caResource ? std::optional<Authorization>(Authorization{}) : authorize(request);
  if (!authorization || authorization->refusal) {
    request.authRejected = true;
    if (authorization) {
      answer = std::move(*authorization->refusal);
    } else {
      answer = Answer::xml(401, kUnauthorizedBody);
      answer.headers.emplace_back("WWW-Authenticate", "Basic realm=\"ENGINE\"");
    }
  } else if (std::optional<Answer> s = scripted(request)) {
    answer = std::move(*s);
  } else {
    std::shared_ptr<const Fallback> fallback;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fallback = fallback_;
    }
    std::optional<Answer> decided;
    if (fallback) {
      try {
        decided = (*fallback)(request);
      } catch (const std::exception& e) {
        decided = Answer::engineFault(500, "Operation Failed", e.what());
      }
    }
    if (decided) {
      answer = std::move(*decided);
    } else if (caResource && asksForCaPem(request)) {
      answer = Answer::xml(200, caPem());
      answer.contentType = "application/x-x509-ca-cert";
    } else {
      answer = Answer::engineFault(404, "Operation Failed", "Entity not found: " + request.path);
    }
  }
  if (authorization && !authorization->refusal) {
    for (auto& header : authorization->answerHeaders) answer.headers.push_back(std::move(header));
  }
  request.status = answer.status;
  log(request);
  return answer;
}

}  // namespace hvtest
