#include "tools/install_maker/install_maker.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <random>
#include <utility>

#include "platform/framework.h"
#include "platform/registry_time.h"
#include "tools/pegen/pe_generator.h"

namespace orv::install {
namespace {

// A manifest name without its leading backslash ("\Pellmark" -> "Pellmark").
fs::path Name(const char16_t* withBackslash) {
  return fs::path(ToUtf8(withBackslash + 1));
}

// A table path ("de\x.dll") as a relative path of this system.
std::string Relative(StringView tablePath) {
  std::string text = ToUtf8(tablePath);
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

std::string MakeParent(const fs::path& file) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  return ec ? "cannot create " + file.parent_path().string() + ": " + ec.message() : "";
}

std::string WriteFile(const fs::path& file, std::string_view bytes) {
  if (std::string problem = MakeParent(file); !problem.empty()) return problem;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return out ? "" : "cannot write " + file.string();
}

std::string WriteImage(const fs::path& file, const pegen::PeImageSpec& spec) {
  const std::vector<std::uint8_t> image = pegen::MakePeImage(spec);
  return WriteFile(file,
                   std::string_view(reinterpret_cast<const char*>(image.data()), image.size()));
}

// Modification (and access) time: 2015-03-02 10:00:00 in the local zone.
std::string DateAsInTheField(const fs::path& file) {
  std::tm local{};
  local.tm_year = 115;
  local.tm_mon = 2;
  local.tm_mday = 2;
  local.tm_hour = 10;
  local.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&local);
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  if (seconds == -1 || ::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0) {
    return "cannot date " + file.string() + ": " + std::strerror(errno);
  }
  return {};
}

bool EndsWithExe(std::string_view name) {
  if (name.size() < 4) return false;
  std::string tail(name.substr(name.size() - 4));
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return tail == ".exe";
}

// In single quotes, which keep everything but a single quote as it is.
std::string ShellQuoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

std::string ShellArray(const char* name, const std::vector<std::string>& values) {
  std::string line = std::string(name) + "=(";
  for (std::size_t i = 0; i < values.size(); ++i) {
    line += (i == 0 ? "" : " ") + ShellQuoted(values[i]);
  }
  return line + ")\n";
}

}  // namespace

PosixLayout PosixLayoutOf(const fs::path& dir) {
  return PosixLayout{dir / "hklm", dir / "tmp", dir / "Program Files" / "Orvanto"};
}

std::string WriteLauncher(const fs::path& host, const LauncherVersion& version) {
  pegen::PeImageSpec spec;
  spec.executable = true;
  spec.hasVersion = version.has_value();
  if (version) spec.fileVersion = *version;
  spec.productVersion = kLauncherProductVersion;
  return WriteImage(host / Name(manifest::kLauncherName), spec);
}

std::string WriteAddinFile(const fs::path& addin, int k, const AddinFile& file) {
  const std::string relative = Relative(manifest::kPayload[k].relativePath);
  const fs::path path = addin / relative;
  if (file.kind == AddinFile::Kind::kMissing) {
    std::error_code ec;
    fs::remove(path, ec);
    return ec ? "cannot remove " + path.string() + ": " + ec.message() : "";
  }
  pegen::PeImageSpec spec;
  spec.executable = EndsWithExe(relative);
  spec.hasVersion = file.kind == AddinFile::Kind::kVersion;
  spec.fileVersion = spec.productVersion = file.version;
  if (std::string problem = WriteImage(path, spec); !problem.empty()) return problem;
  return DateAsInTheField(path);
}

std::string WriteKeptLibrary(const fs::path& addin, int l) {
  const std::string name = ToUtf8(manifest::kLibraries[l].fileName);
  std::string bytes = "kept library " + name + "\n";
  std::random_device seed;
  std::mt19937 random(seed());
  for (int i = 0; i < 3000; ++i) bytes += static_cast<char>(random() & 0xFF);
  return WriteFile(addin / name, bytes);
}

fs::path RegistryValueFile(const fs::path& hklm) {
  std::string key = ToUtf8(manifest::kHostRegistryKey);
  std::replace(key.begin(), key.end(), '\\', '/');
  return hklm / key / ToUtf8(manifest::kHostRegistryValue);
}

std::string WriteRegistryValue(const fs::path& hklm, std::string_view value) {
  return WriteFile(RegistryValueFile(hklm), value);
}

std::string WriteWineRegistryScript(const fs::path& script, const fs::path& host) {
  // Wine maps the Linux root to drive Z:.
  String value = u"Z:" + FromUtf8(fs::absolute(host).string());
  std::replace(value.begin(), value.end(), u'/', u'\\');
  String escaped;
  for (const char16_t c : value) {
    if (c == u'\\' || c == u'"') escaped += u'\\';
    escaped += c;
  }
  const String text = String(u"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\") +
                      manifest::kHostRegistryKey + u"]\n\"" + manifest::kHostRegistryValue +
                      u"\"=\"" + escaped + u"\"\n";
  // UTF-16 little-endian with a byte order mark: without one the script is
  // read in the ANSI code page, which garbles a path that is not plain ASCII.
  std::string bytes = "\xFF\xFE";
  for (const char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return WriteFile(script, bytes);
}

const char kUsage[] =
    "usage: install-maker posix DIR [OPTIONS]\n"
    "       install-maker wine HOST [--reg FILE] [OPTIONS]\n"
    "       install-maker table\n"
    "Makes a demonstration or test installation of the host as the patch finds it in\n"
    "the field: the launcher Quenbrite.exe at 4.1.52.1, the add-in folder Pellmark\n"
    "with its 25 files at 1.0.0.9 dated 2015-03-02 10:00:00 local time, the three\n"
    "libraries the patch keeps, and the App Paths entry pointing at the host folder.\n"
    "\n"
    "  posix DIR   for the native program, run with ORVANTO_HKLM=DIR/hklm TMPDIR=DIR/tmp:\n"
    "              DIR/hklm (the registry), DIR/tmp (a private temporary folder) and\n"
    "              the host folder DIR/Program Files/Orvanto\n"
    "  wine HOST   for the Windows program: the host folder HOST, and with --reg FILE\n"
    "              a registry script that `wine reg import FILE` loads (UTF-16)\n"
    "  table       the payload table as bash assignments, for eval: ORV_PAYLOAD_VERSION\n"
    "              and the arrays ORV_PAYLOAD_PATHS (relative, '/'-separated),\n"
    "              ORV_PAYLOAD_TIMES (local time), ORV_PAYLOAD_SIZES, ORV_LIBRARIES\n"
    "\n"
    "OPTIONS\n"
    "  --launcher-version V|none  the launcher's file version (default 4.1.52.1); none:\n"
    "                             no version resource\n"
    "  --addin-version V          every add-in file's file version (default 1.0.0.9)\n"
    "  --file PATH=V|none|missing one add-in file otherwise: at version V, without a\n"
    "                             version resource, or absent (removed if it is there);\n"
    "                             PATH as in the table ('/' or '\\'); repeatable\n"
    "  --only PART[,PART...]      make only these parts: launcher, addin (its files and\n"
    "                             the libraries), registry\n"
    "Versions are A.B.C.D, each part 0-65535. Existing files are overwritten; nothing\n"
    "else is removed.\n";

// The parts --only names.
constexpr std::pair<std::string_view, bool Request::*> kParts[] = {
    {"launcher", &Request::makeLauncher},
    {"addin", &Request::makeAddin},
    {"registry", &Request::makeRegistry},
};

std::string ParseArguments(const std::vector<std::string_view>& arguments, Request& request) {
  request = Request{};
  if (arguments.empty()) return "no command given";
  const std::string_view command = arguments[0];
  if (command == "--help" || command == "-h" || command == "help") {
    request.command = Request::Command::kHelp;
    return arguments.size() == 1 ? "" : "--help takes no arguments";
  }
  if (command == "table") {
    request.command = Request::Command::kTable;
    return arguments.size() == 1 ? "" : "table takes no arguments";
  }
  if (command == "posix") {
    request.command = Request::Command::kPosix;
  } else if (command == "wine") {
    request.command = Request::Command::kWine;
  } else {
    return "unknown command '" + std::string(command) + "'";
  }

  auto bad = [](std::string_view what, std::string_view value) {
    return "bad " + std::string(what) + " '" + std::string(value) + "'";
  };
  std::vector<std::pair<int, AddinFile>> files;
  bool onlyGiven = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string_view arg = arguments[i];
    if (arg.empty() || arg[0] != '-') {
      if (!request.target.empty()) return "more than one folder given";
      request.target = fs::path(arg);
      continue;
    }
    if (i + 1 >= arguments.size()) return std::string(arg) + " needs a value";
    const std::string_view value = arguments[++i];
    FileVersion4 version;
    if (arg == "--launcher-version") {
      if (value == "none") {
        request.launcher.reset();
      } else if (ParseFileVersion(value, version)) {
        request.launcher = version;
      } else {
        return bad("launcher version", value);
      }
    } else if (arg == "--addin-version") {
      if (!ParseFileVersion(value, version)) return bad("add-in version", value);
      request.addin.fill(AddinFile{AddinFile::Kind::kVersion, version});
    } else if (arg == "--file") {
      const std::size_t equals = value.rfind('=');
      if (equals == std::string_view::npos) return bad("--file (want PATH=STATE)", value);
      std::string path(value.substr(0, equals));
      std::replace(path.begin(), path.end(), '\\', '/');
      const std::string_view state = value.substr(equals + 1);
      AddinFile file;
      if (state == "missing") {
        file.kind = AddinFile::Kind::kMissing;
      } else if (state == "none") {
        file.kind = AddinFile::Kind::kNoVersion;
      } else if (!ParseFileVersion(state, file.version)) {
        return bad("file state (want A.B.C.D, none or missing)", state);
      }
      int k = 0;
      while (k < manifest::kPayloadCount && Relative(manifest::kPayload[k].relativePath) != path) {
        ++k;
      }
      if (k == manifest::kPayloadCount) return "no payload file '" + path + "' in the table";
      files.emplace_back(k, file);
    } else if (arg == "--only") {
      if (!onlyGiven) {
        for (const auto& [name, make] : kParts) request.*make = false;
      }
      onlyGiven = true;
      for (std::size_t start = 0; start <= value.size();) {
        const std::size_t end = std::min(value.find(',', start), value.size());
        const std::string_view part = value.substr(start, end - start);
        const auto named = std::find_if(std::begin(kParts), std::end(kParts),
                                        [&](const auto& p) { return p.first == part; });
        if (named == std::end(kParts)) {
          return bad("part (want launcher, addin or registry)", part);
        }
        request.*(named->second) = true;
        start = end + 1;
      }
    } else if (arg == "--reg" && request.command == Request::Command::kWine) {
      request.registryScript = fs::path(value);
    } else {
      return "unknown option '" + std::string(arg) + "'";
    }
  }
  // Named files win over --addin-version, wherever it stood.
  for (const auto& [k, file] : files) request.addin[k] = file;
  if (request.target.empty()) return "no folder given";
  if (request.command == Request::Command::kWine && request.registryScript.empty()) {
    if (onlyGiven && request.makeRegistry) return "--only registry needs --reg FILE";
    request.makeRegistry = false;
  }
  return {};
}

std::string Make(const Request& request) {
  fs::path host = request.target;
  std::string problem;
  if (request.command == Request::Command::kPosix) {
    const PosixLayout layout = PosixLayoutOf(fs::absolute(request.target));
    host = layout.host;
    std::error_code ec;
    fs::create_directories(layout.temp, ec);
    if (ec) return "cannot create " + layout.temp.string() + ": " + ec.message();
    if (request.makeRegistry) problem = WriteRegistryValue(layout.hklm, host.string());
  } else if (request.makeRegistry) {
    problem = WriteWineRegistryScript(request.registryScript, host);
  }
  if (problem.empty() && request.makeLauncher) problem = WriteLauncher(host, request.launcher);
  const fs::path addin = host / Name(manifest::kAddinName);
  if (problem.empty() && request.makeAddin) {
    std::error_code ec;
    fs::create_directories(addin, ec);  // there even when every file is missing
    if (ec) problem = "cannot create " + addin.string() + ": " + ec.message();
  }
  for (int k = 0; problem.empty() && request.makeAddin && k < manifest::kPayloadCount; ++k) {
    problem = WriteAddinFile(addin, k, request.addin[k]);
  }
  for (int l = 0; problem.empty() && request.makeAddin && l < manifest::kLibraryCount; ++l) {
    problem = WriteKeptLibrary(addin, l);
  }
  return problem;
}

std::string ShellTable() {
  std::vector<std::string> paths, times, sizes, libraries;
  for (const manifest::PayloadEntry& entry : manifest::kPayload) {
    paths.push_back(Relative(entry.relativePath));
    std::tm local =
        LocalTimeOfMay2016(entry.time.day, entry.time.hour, entry.time.minute, entry.time.second);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    times.emplace_back(text);
    sizes.push_back(std::to_string(entry.size));
  }
  for (const manifest::CarriedLibrary& library : manifest::kLibraries) {
    libraries.push_back(ToUtf8(library.fileName));
  }
  return "ORV_PAYLOAD_VERSION=" + ToText(manifest::kPayloadVersion) + "\n" +
         ShellArray("ORV_PAYLOAD_PATHS", paths) + ShellArray("ORV_PAYLOAD_TIMES", times) +
         ShellArray("ORV_PAYLOAD_SIZES", sizes) + ShellArray("ORV_LIBRARIES", libraries);
}

}  // namespace orv::install
