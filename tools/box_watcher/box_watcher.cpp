// Watches for message boxes on the desktop it runs on, logs each one and
// (unless told not to) presses its OK button. Tests start it before the
// program under test and wait for its "ready" line instead of sleeping.
//
//   box_watcher --log FILE [--expect N] [--timeout SECONDS] [--settle MS]
//               [--press ok|none] [--process NAME.exe]
//
// With --process only boxes of processes of that file name count (others in
// the same Wine session are left alone); without it, every box counts.
// Log (UTF-8, one line each, flushed at once): "ready" first, then for every
// box its caption, a tab and its text. Backslash, line feed, carriage return
// and tab inside caption or text are written as \\, \n, \r and \t, so every
// box line holds exactly one raw tab. FILE "-" means standard output.
//
// Exit code: 0 when exactly N boxes were seen (N reached, then no further box
// within the settle time), 1 when the timeout came first, 2 when more than N
// boxes appeared, 3 for bad arguments or an unwritable log.
#include <windows.h>
// After windows.h.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// The static control that holds a message box's text, on Windows and Wine.
constexpr int kTextControlId = 0xFFFF;
constexpr DWORD kPollMs = 25;
constexpr DWORD kMessageTimeoutMs = 5000;
// A pressed box that is still there after this long is pressed again.
constexpr DWORD kRepressMs = 2000;

struct Options {
  std::wstring log;
  int expect = 1;
  DWORD timeoutMs = 60000;
  DWORD settleMs = 300;
  bool press = true;
  std::wstring process;  // empty: any process
};

struct Seen {
  HWND box;
  DWORD pressedAt;
};

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::string Escape(const std::wstring& text) {
  std::wstring out;
  for (const wchar_t c : text) {
    switch (c) {
      case L'\\':
        out += L"\\\\";
        break;
      case L'\n':
        out += L"\\n";
        break;
      case L'\r':
        out += L"\\r";
        break;
      case L'\t':
        out += L"\\t";
        break;
      default:
        out += c;
    }
  }
  return ToUtf8(out);
}

// WM_GETTEXT rather than GetWindowTextW: the latter does not ask a control
// of another process for its text.
bool ReadText(HWND window, std::wstring& text) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                           &length)) {
    return false;
  }
  std::vector<wchar_t> buffer(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(),
                           reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                           kMessageTimeoutMs, &copied)) {
    return false;
  }
  text.assign(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
  return true;
}

bool IsMessageBox(HWND window) {
  wchar_t className[16] = {};
  if (GetClassNameW(window, className, 16) == 0) return false;
  if (std::wcscmp(className, L"#32770") != 0) return false;
  return GetDlgItem(window, kTextControlId) != nullptr && IsWindowVisible(window);
}

// The file name of the program that owns a window, or empty.
std::wstring OwnerName(HWND window) {
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr) return {};
  std::vector<wchar_t> path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  const BOOL named = QueryFullProcessImageNameW(process, 0, path.data(), &size);
  CloseHandle(process);
  if (!named) return {};
  const std::wstring full(path.data(), size);
  return full.substr(full.find_last_of(L"\\/") + 1);
}

BOOL CALLBACK CollectBoxes(HWND window, LPARAM found) {
  if (IsMessageBox(window)) reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  return TRUE;
}

void PressOk(HWND box) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

class Log {
 public:
  ~Log() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
  }
  bool Open(const std::wstring& path) {
    if (path == L"-") {
      // Lines end in a bare line feed, as in the log file.
      _setmode(_fileno(stdout), _O_BINARY);
      file_ = stdout;
      return true;
    }
    return _wfopen_s(&file_, path.c_str(), L"wb") == 0 && file_ != nullptr;
  }
  void Line(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
  }

 private:
  std::FILE* file_ = nullptr;
};

bool ParseNumber(const wchar_t* text, unsigned long& value) {
  wchar_t* end = nullptr;
  value = std::wcstoul(text, &end, 10);
  return end != text && *end == L'\0';
}

bool Parse(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring name = argv[i];
    const wchar_t* value = argv[i + 1];
    unsigned long number = 0;
    if (name == L"--log") {
      options.log = value;
    } else if (name == L"--expect" && ParseNumber(value, number)) {
      options.expect = static_cast<int>(number);
    } else if (name == L"--timeout" && ParseNumber(value, number)) {
      options.timeoutMs = static_cast<DWORD>(number * 1000);
    } else if (name == L"--settle" && ParseNumber(value, number)) {
      options.settleMs = static_cast<DWORD>(number);
    } else if (name == L"--process") {
      options.process = value;
    } else if (name == L"--press" &&
               (std::wcscmp(value, L"ok") == 0 || std::wcscmp(value, L"none") == 0)) {
      options.press = std::wcscmp(value, L"ok") == 0;
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && !options.log.empty();
}

bool Known(const std::vector<Seen>& seen, HWND box) {
  for (const Seen& s : seen) {
    if (s.box == box) return true;
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!Parse(argc, argv, options)) {
    std::fputs(
        "usage: box_watcher --log FILE|- [--expect N] [--timeout SECONDS] [--settle MS] "
        "[--press ok|none] [--process NAME.exe]\n",
        stderr);
    return 3;
  }
  Log log;
  if (!log.Open(options.log)) {
    std::fputs("box_watcher: cannot open the log\n", stderr);
    return 3;
  }
  log.Line("ready");

  std::vector<Seen> seen;
  const DWORD start = GetTickCount();
  // With --expect 0 the settle time is the whole watch.
  DWORD reachedAt = start;
  for (;;) {
    std::vector<HWND> boxes;
    EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&boxes));
    const DWORD now = GetTickCount();
    for (const HWND box : boxes) {
      if (Known(seen, box)) continue;
      if (!options.process.empty() &&
          _wcsicmp(OwnerName(box).c_str(), options.process.c_str()) != 0) {
        continue;
      }
      std::wstring caption;
      std::wstring text;
      // A box still being built may not answer yet; the next round retries.
      if (!ReadText(box, caption) || !ReadText(GetDlgItem(box, kTextControlId), text)) continue;
      log.Line(Escape(caption) + "\t" + Escape(text));
      seen.push_back({box, now});
      if (options.press) PressOk(box);
      if (static_cast<int>(seen.size()) == options.expect) reachedAt = now;
    }
    for (Seen& s : seen) {
      if (s.box == nullptr) continue;
      if (!IsWindow(s.box)) {
        s.box = nullptr;  // gone: its handle may come back for a new box
      } else if (options.press && now - s.pressedAt >= kRepressMs) {
        PressOk(s.box);
        s.pressedAt = now;
      }
    }
    const int count = static_cast<int>(seen.size());
    if (count > options.expect) {
      std::fprintf(stderr, "box_watcher: %d boxes, expected %d\n", count, options.expect);
      return 2;
    }
    if (count == options.expect && now - reachedAt >= options.settleMs) return 0;
    if (now - start >= options.timeoutMs) {
      std::fprintf(stderr, "box_watcher: timed out with %d of %d boxes\n", count, options.expect);
      return 1;
    }
    Sleep(kPollMs);
  }
}
