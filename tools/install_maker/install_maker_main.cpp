// install-maker: makes a demonstration or test installation of the host (see
// install_maker.h and --help).
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/install_maker/install_maker.h"

int main(int argc, char** argv) {
  using orv::install::Request;
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  Request request;
  const std::string wrong = orv::install::ParseArguments(arguments, request);
  if (!wrong.empty()) {
    std::fprintf(stderr, "install-maker: %s\n%s", wrong.c_str(), orv::install::kUsage);
    return 2;
  }
  switch (request.command) {
    case Request::Command::kHelp:
      std::fputs(orv::install::kUsage, stdout);
      return 0;
    case Request::Command::kTable:
      std::fputs(orv::install::ShellTable().c_str(), stdout);
      return 0;
    default:
      break;
  }
  const std::string problem = orv::install::Make(request);
  if (!problem.empty()) {
    std::fprintf(stderr, "install-maker: %s\n", problem.c_str());
    return 1;
  }
  return 0;
}
