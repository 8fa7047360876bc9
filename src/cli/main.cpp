// vaultix-cli: runs one operation of a set file and exits with its result code.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <iostream>
#include <thread>

#include "cli/commands.h"
#include "cli/prompts.h"
#include "cli/signals.h"
#include "platform/locale.h"
#include "support/version.h"

int main(int argc, char** argv) {
  try {
    vx::InstallSignalHandling();
    vx::InitLocale();
    vx::ReadVersionInfo();

    std::vector<std::string> args(argv + 1, argv + argc);
    // A terminal we may read from: not when started in the background, where
    // reading would stop the process (SIGTTIN) until someone notices.
    const bool interactive =
        ::isatty(STDIN_FILENO) == 1 && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
    const bool progress = ::isatty(STDERR_FILENO) == 1;
    std::size_t width = 80;
    winsize ws{};
    if (progress && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) {
      width = ws.ws_col;
    }
    vx::TCliEnvironment env{
        std::cout,
        std::cerr,
        [](std::string& line) { return vx::ReadLineFromFd(STDIN_FILENO, line); },
        interactive,
        progress,
        width,
        [] { std::this_thread::sleep_for(std::chrono::seconds(1)); },
        [](const std::string& prompt, std::string& secret) {
          return vx::ReadSecretFromFd(STDIN_FILENO, std::cerr, prompt, secret);
        },
        // A pipe whose reading end is closed polls as an error.
        [] {
          pollfd p{STDOUT_FILENO, POLLOUT, 0};
          return ::poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
        },
    };
    return vx::RunCli(args, env);
  } catch (const std::exception& ex) {
    std::cerr << "vaultix-cli: " << ex.what() << std::endl;
  } catch (...) {
    std::cerr << "vaultix-cli: unknown failure" << std::endl;
  }
  return 99;
}
