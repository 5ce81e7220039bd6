// What the stand-alone engine programs share: usage errors, the password file, the CA file
// and serving until SIGINT or SIGTERM.
#pragma once

#include <signal.h>

#include <optional>
#include <string>

namespace hvtest {
namespace program {

// Prints "<program>: <message>" and a hint, and exits with status 2.
[[noreturn]] void UsageError(const char* program, const std::string& message);
// The file's content without trailing line ends; a usage error when unreadable or empty.
std::string ReadPasswordFile(const char* program, const std::string& file);
// Blocks SIGINT and SIGTERM; call before any thread starts, so only WaitForStop takes them.
sigset_t BlockStopSignals();
// Writes the CA when asked, prints "listening on 127.0.0.1:PORT" and waits for a stop
// signal. False (after a message) when the CA file cannot be written.
bool ServeUntilStopped(const char* program, const sigset_t& signals, unsigned port,
                       const std::string& caPem, const std::optional<std::string>& caOut);

}  // namespace program
}  // namespace hvtest
