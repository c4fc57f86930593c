// The native program's entry: arguments are ignored, the application object
// does the rest, and its exit hook's result is the exit code.
#include "platform/application.h"

int main() {
  return orv::RunApplication();
}
