// Debian's `openssl s_server -WWW` serving the files of one directory over TLS on an ephemeral
// loopback port: the benchmark's measure of how fast a large body can arrive at all.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace hvbench {

class OpensslServer {
 public:
  // Serves `dir` presenting the certificate and key (PEM, written into `dir` and removed again)
  // and waits until it listens. Throws when it cannot be started.
  OpensslServer(const std::string& dir, const std::string& certPem, const std::string& keyPem);
  // Stops it and removes the files it was given.
  ~OpensslServer();
  OpensslServer(const OpensslServer&) = delete;
  OpensslServer& operator=(const OpensslServer&) = delete;

  uint16_t port() const { return port_; }

 private:
  void stop();

  std::string certFile_;
  std::string keyFile_;
  std::string outputFile_;
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

}  // namespace hvbench
