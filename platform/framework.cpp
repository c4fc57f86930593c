#include "platform/framework.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace orv {

void PathBuffer::Clear() {
  std::fill(std::begin(text), std::end(text), u'\0');
}

bool PathBuffer::Assign(StringView value) {
  if (value.size() >= kMaxPath) return false;
  Clear();
  std::copy(value.begin(), value.end(), text);
  return true;
}

bool PathBuffer::Append(StringView value) {
  const std::size_t used = view().size();
  if (used + value.size() >= kMaxPath) return false;
  std::copy(value.begin(), value.end(), text + used);
  text[used + value.size()] = u'\0';
  return true;
}

String JoinPath(StringView folder, StringView name) {
  String out;
  out.reserve(folder.size() + 1 + name.size());
  out.append(folder).push_back(u'\\');
  out.append(name);
  return out;
}

String Concat(StringView first, StringView second) {
  String out;
  out.reserve(first.size() + second.size());
  out.append(first).append(second);
  return out;
}

String ConcatNumbered(StringView first, StringView second, std::int64_t counter) {
  // Digits by hand rather than through the C library's formatter, whose
  // floating-point half would otherwise be linked into the program.
  char16_t digits[24];
  char16_t* end = std::end(digits);
  char16_t* at = end;
  const bool negative = counter < 0;
  // Unsigned, so that the most negative counter has a magnitude too.
  std::uint64_t magnitude =
      negative ? ~static_cast<std::uint64_t>(counter) + 1 : static_cast<std::uint64_t>(counter);
  int written = 0;
  while (magnitude != 0 || written < 4 - (negative ? 1 : 0)) {
    *--at = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
    ++written;
  }
  if (negative) *--at = u'-';
  String out = Concat(first, second);
  out.append(at, end);
  return out;
}

bool JoinPath(PathBuffer& out, StringView folder, StringView name) {
  return out.Assign(JoinPath(folder, name));
}

bool Concat(PathBuffer& out, StringView first, StringView second) {
  return out.Assign(Concat(first, second));
}

void CutAtLastBackslash(String& text) {
  const auto pos = text.rfind(u'\\');
  if (pos != String::npos) text.erase(pos);
}

std::string ToUtf8(StringView text) {
  // Sized once for the longest result (three bytes per unit; a surrogate pair
  // takes four for its two) and filled in place: every path of a run passes
  // through here on the POSIX backend.
  std::string out(text.size() * 3, '\0');
  char* at = out.data();
  const auto put = [&at](char32_t byte) { *at++ = static_cast<char>(byte); };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c < 0x80) {
      put(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x800) {
      put(0xC0 | (c >> 6));
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | (c >> 12));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | (c >> 18));
      put(0x80 | ((c >> 12) & 0x3F));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
  out.resize(static_cast<std::size_t>(at - out.data()));
  return out;
}

String FromUtf8(std::string_view text) {
  String out;
  out.reserve(text.size());
  std::size_t i = 0;
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  const auto cont = [&](std::size_t at) { return at < text.size() && (byte(at) & 0xC0) == 0x80; };
  while (i < text.size()) {
    const unsigned char b = byte(i);
    char32_t c = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0 && cont(i + 1)) {
      c = ((b & 0x1Fu) << 6) | (byte(i + 1) & 0x3Fu);
      len = 2;
      if (c < 0x80) c = 0xFFFD;
    } else if ((b & 0xF0) == 0xE0 && cont(i + 1) && cont(i + 2)) {
      c = ((b & 0x0Fu) << 12) | ((byte(i + 1) & 0x3Fu) << 6) | (byte(i + 2) & 0x3Fu);
      len = 3;
      if (c < 0x800) c = 0xFFFD;
    } else if ((b & 0xF8) == 0xF0 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      c = ((b & 0x07u) << 18) | ((byte(i + 1) & 0x3Fu) << 12) | ((byte(i + 2) & 0x3Fu) << 6) |
          (byte(i + 3) & 0x3Fu);
      len = 4;
      if (c < 0x10000 || c > 0x10FFFF) c = 0xFFFD;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += len;
  }
  return out;
}

void RaiseStatusError(std::uint32_t code) {
  throw StatusError{code};
}

namespace {
CWinApp* g_currentApp = nullptr;
}

CWinApp::CWinApp(const char16_t* /*appName*/) {
  g_currentApp = this;
}

CWinApp::~CWinApp() {
  if (g_currentApp == this) g_currentApp = nullptr;
}

bool CWinApp::StartInstance() {
  return true;
}

int CWinApp::EndInstance() {
  return exitCode_;
}

CWinApp* CWinApp::Current() {
  return g_currentApp;
}

int RunApplication() {
  CWinApp* app = CWinApp::Current();
  if (app == nullptr) return 1;
  // This program never runs a message loop: a false start hook goes straight
  // to the exit hook, and so does a true one.
  app->StartInstance();
  return app->EndInstance();
}

}  // namespace orv
