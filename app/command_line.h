// The program's switches, in the manner of the installers administrators
// already script: "/" or "-", any case.
//
//   (none)          the interactive run, one message box
//   /quiet, /qn     no message box; the exit code tells the outcome
//   /log FILE       a log of the run in FILE (created, or emptied); once only
//   /?, /help       the usage text, nothing else
#pragma once

#include <optional>
#include <vector>

#include "platform/text.h"

namespace orv {

// The exit codes of a command line that cannot be run, in Windows
// Installer's terms as the outcomes' are.
inline constexpr int kExitLogFailure = 1622;          // ERROR_INSTALL_LOG_FAILURE
inline constexpr int kExitInvalidCommandLine = 1639;  // ERROR_INVALID_COMMAND_LINE

struct CommandLine {
  bool quiet = false;
  bool help = false;
  std::optional<String> logPath;
  // The first argument that could not be taken; set, the command line is
  // refused as a whole.
  std::optional<String> refused;
};

CommandLine ParseCommandLine(const std::vector<String>& arguments);

// What /? shows; with an argument, the text of a refused command line that
// names it.
String UsageText(const std::optional<String>& refused = std::nullopt);

// The arguments as one line, each quoted where it holds a space, for the log.
String JoinArguments(const std::vector<String>& arguments);

}  // namespace orv
