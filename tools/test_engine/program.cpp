#include "test_engine/program.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

namespace hvtest {
namespace program {

void UsageError(const char* program, const std::string& message) {
  std::cerr << program << ": " << message << "\nTry --help.\n";
  std::exit(2);
}

std::string ReadPasswordFile(const char* program, const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) UsageError(program, "cannot read password file " + file);
  std::ostringstream text;
  text << in.rdbuf();
  std::string password = text.str();
  while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) {
    password.pop_back();
  }
  if (password.empty()) UsageError(program, "password file " + file + " is empty");
  return password;
}

sigset_t BlockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

bool ServeUntilStopped(const char* program, const sigset_t& signals, unsigned port,
                       const std::string& caPem, const std::optional<std::string>& caOut) {
  if (caOut) {
    std::ofstream out(*caOut, std::ios::binary | std::ios::trunc);
    out << caPem;
    if (!out.flush()) {
      std::cerr << program << ": cannot write " << *caOut << "\n";
      return false;
    }
  }
  std::cout << "listening on 127.0.0.1:" << port << std::endl;
  int signal = 0;
  sigwait(&signals, &signal);
  return true;
}

}  // namespace program
}  // namespace hvtest
