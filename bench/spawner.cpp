#include "spawner.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace hvbench {
namespace {

struct Result {
  double seconds;
  long maxRssKiB;
  bool ok;
};

bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = read(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The split-off process: reads "errorFile\0arg0\0arg1\0..." messages, runs each, answers with
// its Result.
void Serve(int requests, int results) {
  uint32_t size = 0;
  while (ReadAll(requests, &size, sizeof size)) {
    std::string message(size, '\0');
    if (!ReadAll(requests, &message[0], size)) return;
    std::vector<char*> argv;
    for (size_t at = 0; at < message.size(); at = message.find('\0', at) + 1) {
      argv.push_back(&message[at]);
    }
    const char* errorFile = argv.front();
    argv.erase(argv.begin());
    argv.push_back(nullptr);
    Result result{};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open("/dev/null", O_WRONLY);
      const int err = open(errorFile, O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (out < 0 || err < 0) _exit(127);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      execv(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
      result.seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      result.maxRssKiB = usage.ru_maxrss;
      result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (!WriteAll(results, &result, sizeof result)) return;
  }
}

}  // namespace

Spawner::Spawner() {
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0 || pipe(fromChild) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    close(toChild[1]);
    close(fromChild[0]);
    Serve(toChild[0], fromChild[1]);
    _exit(0);
  }
  close(toChild[0]);
  close(fromChild[1]);
  requests_ = toChild[1];
  results_ = fromChild[0];
}

Spawner::~Spawner() {
  close(requests_);
  close(results_);
  waitpid(pid_, nullptr, 0);
}

Run Spawner::run(std::vector<std::string> args, const std::string& errorFile) {
  args.insert(args.begin(), errorFile);
  std::string message;
  for (const std::string& a : args) message += a + '\0';
  const uint32_t size = static_cast<uint32_t>(message.size());
  Result result{};
  if (!WriteAll(requests_, &size, sizeof size) ||
      !WriteAll(requests_, message.data(), message.size()) ||
      !ReadAll(results_, &result, sizeof result)) {
    throw std::runtime_error("the spawner process failed");
  }
  Run run;
  run.seconds = result.seconds;
  run.peakMiB = result.maxRssKiB / 1024.0;
  run.ok = result.ok;
  return run;
}

}  // namespace hvbench
