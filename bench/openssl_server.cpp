#include "openssl_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace hvbench {
namespace {

void WriteFile(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) throw std::runtime_error("cannot write " + path);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) {
      close(fd);
      throw std::runtime_error("cannot write " + path);
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
}

// The port of the "ACCEPT 127.0.0.1:PORT" line s_server prints once it listens; 0 before.
uint16_t AcceptedPort(const std::string& outputFile) {
  std::ifstream output(outputFile);
  std::string line;
  const std::string prefix = "ACCEPT 127.0.0.1:";
  while (std::getline(output, line)) {
    if (line.compare(0, prefix.size(), prefix) == 0) {
      return static_cast<uint16_t>(std::strtoul(line.c_str() + prefix.size(), nullptr, 10));
    }
  }
  return 0;
}

}  // namespace

OpensslServer::OpensslServer(const std::string& dir, const std::string& certPem,
                             const std::string& keyPem)
    : certFile_(dir + "/s_server-cert.pem"),
      keyFile_(dir + "/s_server-key.pem"),
      outputFile_(dir + "/s_server.out") {
  WriteFile(certFile_, certPem);
  WriteFile(keyFile_, keyPem);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Its output goes to a file, read for the port: a pipe left unread would stop it.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // -WWW serves paths relative to the working directory.
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  std::vector<std::string> args = {"openssl", "s_server", "-WWW", "-accept", "127.0.0.1:0",
                                   "-cert",   certFile_,  "-key", keyFile_};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const int spawned = posix_spawnp(&pid_, "openssl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    pid_ = -1;
    stop();
    throw std::runtime_error("cannot start openssl s_server");
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((port_ = AcceptedPort(outputFile_)) == 0) {
    const bool ended = waitpid(pid_, nullptr, WNOHANG) != 0;
    if (ended) pid_ = -1;  // reaped (or not ours to wait for): nothing left to stop
    if (ended || std::chrono::steady_clock::now() > deadline) {
      stop();
      throw std::runtime_error("openssl s_server did not start listening");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

OpensslServer::~OpensslServer() { stop(); }

void OpensslServer::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  std::remove(certFile_.c_str());
  std::remove(keyFile_.c_str());
  std::remove(outputFile_.c_str());
}

}  // namespace hvbench
