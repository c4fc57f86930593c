#include "app/command_line.h"

namespace orv {

namespace {

enum class Switch { None, Quiet, Log, Help };

char16_t Lower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

Switch SwitchOf(StringView argument) {
  if (argument.size() < 2 || (argument[0] != u'/' && argument[0] != u'-')) return Switch::None;
  String name(argument.substr(1));
  for (char16_t& c : name) c = Lower(c);
  if (name == u"quiet" || name == u"qn") return Switch::Quiet;
  if (name == u"log") return Switch::Log;
  if (name == u"?" || name == u"help") return Switch::Help;
  return Switch::None;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<String>& arguments) {
  CommandLine line;
  for (std::size_t i = 0; i < arguments.size() && !line.refused; ++i) {
    const String& argument = arguments[i];
    switch (SwitchOf(argument)) {
      case Switch::Quiet:
        line.quiet = true;
        break;
      case Switch::Help:
        line.help = true;
        break;
      case Switch::Log:
        // The next argument is the file, unless there is none or it is one
        // of the switches (a forgotten file name, not a file called "/qn").
        if (i + 1 >= arguments.size() || arguments[i + 1].empty() ||
            SwitchOf(arguments[i + 1]) != Switch::None) {
          line.refused = argument;
        } else if (line.logPath) {
          // Which of two logs was meant cannot be known, and a log that
          // silently lost to the other would be looked for in vain.
          line.refused = argument + u" " + arguments[i + 1] + u" (a run writes one log)";
        } else {
          line.logPath = arguments[++i];
        }
        break;
      case Switch::None:
        line.refused = argument;
        break;
    }
  }
  return line;
}

String UsageText(const std::optional<String>& refused) {
  String text;
  if (refused) text += u"This argument cannot be used: " + *refused + u"\n\n";
  text +=
      u"Usage: WinOrvantoPatch1.exe [/quiet] [/log <file>] [/?]\n\n"
      u"/quiet, /qn\tNo message box; the exit code tells the outcome.\n"
      u"/log <file>\tWrite a log of the run to <file>.\n"
      u"/?, /help\tShow this text.";
  return text;
}

String JoinArguments(const std::vector<String>& arguments) {
  String line;
  for (const String& argument : arguments) {
    if (!line.empty()) line += u' ';
    const bool quote = argument.empty() || argument.find(u' ') != String::npos;
    line += quote ? u"\"" + argument + u"\"" : argument;
  }
  return line;
}

}  // namespace orv
