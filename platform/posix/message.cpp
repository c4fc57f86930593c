// The notice on standard output, standing in for the message box.
#include <unistd.h>

#include <cstdio>

#include "platform/posix/backend.h"

namespace orv::posix {

void ShowMessage(const Platform&, const char16_t* caption, const char16_t* text, MessageIcon icon) {
  const char* mark = icon == MessageIcon::Information ? "[information]" : "[warning]";
  std::printf("%s\n%s %s\n", ToUtf8(caption).c_str(), mark, ToUtf8(text).c_str());
  std::fflush(stdout);
  // Modal, like the box: at a terminal the notice waits for Enter.
  if (::isatty(STDIN_FILENO)) {
    int c;
    do {
      c = std::getchar();
    } while (c != '\n' && c != EOF);
  }
}

}  // namespace orv::posix
