// The native program's entry: the arguments as UTF-16, and the application
// object does the rest; its exit hook's result is the exit code.
#include <vector>

#include "platform/application.h"

int main(int argc, char** argv) {
  std::vector<orv::String> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(orv::FromUtf8(argv[i]));
  return orv::RunApplication(std::move(arguments));
}
