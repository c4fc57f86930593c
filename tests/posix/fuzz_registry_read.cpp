// libFuzzer entry: any bytes as a registry value of the POSIX backend, read
// through the platform record as the host discovery reads it.
//
// The first three bytes shape the request, the rest is the value file:
//   byte 0  bits 0-1  the capacity: 0 the discovery's 520 bytes, 1 byte 1,
//                     2 256 + 8 * byte 1; 3 no buffer (a size query of byte 1)
//           bits 2-3  the type passed in: REG_SZ, REG_NONE, REG_EXPAND_SZ, ~0
//   byte 2  bits 0-3  the value name (0-6 "Path"; others: a non-ASCII name,
//                     no name, a folder, a link, a FIFO, a missing value, "",
//                     "..", a name with a slash)
//           bits 4-7  the key (0-9 the host's key; others: keys that climb
//                     out of the tree, a trailing backslash, an empty key,
//                     the tree's variable set empty)
//
// What a caller relies on, checked on every input:
// - nothing is written outside [0, request.size in) of the caller's buffer
//   (a poisoned guard zone follows it), and nothing past the size out;
// - a refused read leaves the buffer as it was;
// - a read that is refused leaves a reason the backend documents;
// - success: type REG_SZ, an even size of at least 2 and at most the
//   capacity, ending in a NUL unit (so the discovery's zero-filled buffer
//   always holds a terminated string); the text is the file's UTF-8 as UTF-16
//   (exactly, when the file is well-formed UTF-8; with a replacement
//   character, when it is not);
// - "more data" and a size query report a size that a second read with that
//   capacity accepts;
// - a value that is no regular file in the key's own folder, or a key that
//   leaves the tree, is never read; a regular value under the host's key is.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "patch/manifest.h"
#include "platform/paths.h"
#include "platform/seam.h"

#if defined(__SANITIZE_ADDRESS__)
#define ORV_FUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORV_FUZZ_ASAN 1
#endif
#endif
#ifdef ORV_FUZZ_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

namespace fs = std::filesystem;
using orv::RegistryValueRequest;

constexpr std::uint8_t kFill = 0xA5;
constexpr std::size_t kGuard = 64;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_registry_read: %s\n", what);
  std::abort();
}

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// The folder tree, made once: <work>/hklm stands for HKEY_LOCAL_MACHINE and
// <work>/outside holds a readable "Path" that no key may reach.
struct Tree {
  fs::path work;
  std::string root;  // <work>/hklm
  fs::path key;      // the host's key folder
};

Tree& TheTree() {
  static Tree tree;
  return tree;
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot write a value file");
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put <= 0) Fail("cannot write a value file");
    done += static_cast<std::size_t>(put);
  }
  ::close(fd);
}

void RemoveTree() {
  std::error_code ignored;
  fs::remove_all(TheTree().work, ignored);
}

// How UTF-8 fares through UTF-16: well-formed sequences, surrogates in their
// three-byte form included, come back exactly, except that a high surrogate
// followed by a low one comes back as one four-byte character; any other
// byte sequence is ill-formed.
enum class Utf8 { RoundTrips, PairedSurrogates, IllFormed };

Utf8 Classify(std::string_view text) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const auto tail = [&](std::size_t i) { return i < text.size() && (at(i) & 0xC0) == 0x80; };
  Utf8 kind = Utf8::RoundTrips;
  bool afterHigh = false;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char b = at(i);
    std::uint32_t c = 0;
    std::size_t n = 0;
    if (b < 0x80) {
      c = b, n = 1;
    } else if (b >= 0xC2 && b <= 0xDF && tail(i + 1)) {
      c = ((b & 0x1Fu) << 6) | (at(i + 1) & 0x3Fu), n = 2;
    } else if (b >= 0xE0 && b <= 0xEF && tail(i + 1) && tail(i + 2)) {
      c = ((b & 0x0Fu) << 12) | ((at(i + 1) & 0x3Fu) << 6) | (at(i + 2) & 0x3Fu), n = 3;
      if (c < 0x800) return Utf8::IllFormed;
    } else if (b >= 0xF0 && b <= 0xF4 && tail(i + 1) && tail(i + 2) && tail(i + 3)) {
      c = ((b & 0x07u) << 18) | ((at(i + 1) & 0x3Fu) << 12) | ((at(i + 2) & 0x3Fu) << 6) |
          (at(i + 3) & 0x3Fu);
      n = 4;
      if (c < 0x10000 || c > 0x10FFFF) return Utf8::IllFormed;
    } else {
      return Utf8::IllFormed;
    }
    if (afterHigh && c >= 0xDC00 && c <= 0xDFFF) kind = Utf8::PairedSurrogates;
    afterHigh = c >= 0xD800 && c <= 0xDBFF;
    i += n;
  }
  return kind;
}

// The caller's buffer: capacity bytes followed by a poisoned guard zone, all
// filled with a mark so that any byte written shows.
class Buffer {
 public:
  explicit Buffer(std::size_t capacity) : capacity_(capacity), bytes_(capacity + kGuard, kFill) {
#ifdef ORV_FUZZ_ASAN
    ASAN_POISON_MEMORY_REGION(bytes_.data() + capacity_, kGuard);
#endif
  }
  ~Buffer() {
    Unpoison();
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  std::uint8_t* data() {
    return bytes_.data();
  }
  const std::uint8_t* begin() const {
    return bytes_.data();
  }

  // True when no byte from `from` on, guard zone included, was written.
  bool UntouchedFrom(std::size_t from) {
    Unpoison();
    for (std::size_t i = from; i < bytes_.size(); ++i) {
      if (bytes_[i] != kFill) return false;
    }
    return true;
  }

 private:
  void Unpoison() {
#ifdef ORV_FUZZ_ASAN
    ASAN_UNPOISON_MEMORY_REGION(bytes_.data() + capacity_, kGuard);
#endif
  }
  std::size_t capacity_;
  std::vector<std::uint8_t> bytes_;
};

// How the input's first bytes shape one request.
struct Shape {
  bool query = false;  // no buffer: ask for the size only
  std::uint32_t capacity = orv::manifest::kHostRegistryBytes;
  std::uint32_t typeIn = orv::kRegSz;
  int key = 0;
  int name = 0;
};

Shape ShapeOf(const std::uint8_t* data, std::size_t size) {
  const auto byte = [&](std::size_t i) { return i < size ? data[i] : std::uint8_t{0}; };
  Shape s;
  switch (byte(0) & 3) {
    case 1:
      s.capacity = byte(1);
      break;
    case 2:
      s.capacity = 256u + 8u * byte(1);
      break;
    case 3:
      s.query = true;
      s.capacity = byte(1);
      break;
    default:
      break;
  }
  static constexpr std::uint32_t kTypes[] = {orv::kRegSz, 0, 2, 0xFFFFFFFFu};
  s.typeIn = kTypes[(byte(0) >> 2) & 3];
  s.name = byte(2) & 15;
  s.key = byte(2) >> 4;
  return s;
}

// Keys 10 to 12 climb to <work>/outside; 13 and 14 are malformed (whether
// they name a key is the backend's choice); 15 reads the host's key with the
// tree's variable set empty.
constexpr int kRootUnset = 15;
const char16_t* KeyPath(int key, std::u16string& storage) {
  static constexpr const char16_t* kOthers[] = {
      u"..\\outside",
      u"SOFTWARE\\..\\..\\outside",
      u"SOFTWARE/../../outside",
      nullptr,  // the host's key with a trailing backslash
      u"",
  };
  storage = orv::manifest::kHostRegistryKey;
  if (key < 10 || key == kRootUnset) return storage.c_str();
  if (kOthers[key - 10] == nullptr) {
    storage += u"\\";
    return storage.c_str();
  }
  return kOthers[key - 10];
}

bool KeyLeavesTree(int key) {
  return key >= 10 && key <= 12;
}

// The value's name; sets readable when it names a regular file in the key's
// folder, which then holds the input.
const char16_t* ValueName(int name, bool& readable) {
  readable = name <= 7;
  if (name <= 6) return orv::manifest::kHostRegistryValue;
  static constexpr const char16_t* kNames[] = {
      u"Pfad \u00FC\u65E5\u672C",  // 7: non-ASCII, a regular file
      nullptr,                     // 8: no name at all
      u"Folder",                   // 9: a folder
      u"Link",                     // 10: a symbolic link to the "Path" file
      u"Fifo",                     // 11: a FIFO nobody writes to
      u"Missing",                  // 12
      u"",                         // 13
      u"..",                       // 14
      u"sub/Path",                 // 15: a regular file one folder down
  };
  return kNames[name - 7];
}

std::string FileNameOf(int name) {
  if (name <= 6) return "Path";
  if (name == 7) return orv::ToUtf8(u"Pfad \u00FC\u65E5\u672C");
  if (name == 15) return "sub/Path";
  return {};
}

orv::RegistryRead Read(const char16_t* key, RegistryValueRequest& request) {
  const orv::Platform& p = orv::SystemPlatform();
  return p.ReadRegistryValue(p, key, request);
}

// Not found, not readable, or larger than the buffer.
bool Documented(orv::RegistryRead result) {
  if (result == orv::RegistryRead::Read) return true;
  const orv::Platform& p = orv::SystemPlatform();
  const orv::SystemError reason = p.LastError(p);
  if (reason.source != orv::ErrorSource::Errno) return false;
  if (result == orv::RegistryRead::MoreData) return reason.code == EOVERFLOW;
  return reason.code == ENOENT || reason.code == EACCES;
}

// A reported size must be what a read with that capacity accepts, as a
// caller that asks again with a buffer of that size expects.
void CheckSizeIsEnough(const char16_t* key, const char16_t* name, std::uint32_t size) {
  Check(size >= 2 && size % 2 == 0, "a reported size is not an even count of at least 2");
  Buffer again(size);
  RegistryValueRequest request;
  request.valueName = name;
  request.data = again.data();
  request.size = size;
  Check(Read(key, request) == orv::RegistryRead::Read, "a read with the reported size fails");
  Check(request.size == size, "a read with the reported size stores another size");
  Check(again.UntouchedFrom(size), "a read with the reported size writes past it");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Tree& t = TheTree();
  std::string pattern = (fs::temp_directory_path() / "fuzz-registry-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) Fail("cannot make a work folder");
  t.work = pattern;
  t.root = (t.work / "hklm").string();
  t.key = t.root;
  for (std::u16string_view rest = orv::manifest::kHostRegistryKey;;) {
    const std::size_t cut = rest.find(u'\\');
    t.key /= orv::ToUtf8(rest.substr(0, cut));
    if (cut == std::u16string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  fs::create_directories(t.key / "Folder");
  fs::create_directories(t.key / "sub");
  fs::create_directories(t.work / "outside");
  WriteFile(t.work / "outside" / "Path", "/opt/outside");
  WriteFile(t.key / "Path", "/opt/host");
  fs::create_symlink(t.key / "Path", t.key / "Link");
  if (::mkfifo((t.key / "Fifo").c_str(), 0600) != 0) Fail("cannot make a FIFO");
  if (::setenv("ORVANTO_HKLM", t.root.c_str(), 1) != 0) Fail("cannot set ORVANTO_HKLM");
  std::atexit(RemoveTree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Tree& t = TheTree();
  const Shape shape = ShapeOf(data, size);
  const std::string_view value =
      size > 3 ? std::string_view(reinterpret_cast<const char*>(data) + 3, size - 3)
               : std::string_view();

  bool regular = false;
  const char16_t* name = ValueName(shape.name, regular);
  const std::string file = FileNameOf(shape.name);
  if (!file.empty()) WriteFile(t.key / file, value);
  std::u16string keyStorage;
  const char16_t* key = KeyPath(shape.key, keyStorage);
  if (shape.key == kRootUnset) ::setenv("ORVANTO_HKLM", "", 1);

  Buffer buffer(shape.capacity);
  RegistryValueRequest request;
  request.valueName = name;
  request.type = shape.typeIn;
  request.data = shape.query ? nullptr : buffer.data();
  request.size = shape.capacity;
  const orv::RegistryRead status = Read(key, request);
  if (shape.key == kRootUnset) ::setenv("ORVANTO_HKLM", t.root.c_str(), 1);

  Check(Documented(status), "an undocumented answer or reason");
  const bool found = status != orv::RegistryRead::Failed;
  if (regular && shape.key < 10) {
    Check(found, "a regular value under the host's key is not read");
  } else if (KeyLeavesTree(shape.key)) {
    Check(!found, "a key outside the tree is read");
  } else if (shape.key == kRootUnset || !regular) {
    Check(!found, "a value that is no regular file in its key's folder is read");
  }
  if (!found) {
    Check(buffer.UntouchedFrom(0), "a refused read writes into the buffer");
    return 0;
  }

  Check(request.type == orv::kRegSz, "a value read comes back with a type other than REG_SZ");
  if (shape.query || status == orv::RegistryRead::MoreData) {
    Check(buffer.UntouchedFrom(0), "a size query or a too small buffer is written into");
    if (status == orv::RegistryRead::MoreData) {
      Check(request.size > shape.capacity, "\"more data\" with a size that would have fitted");
    }
    CheckSizeIsEnough(key, name, request.size);
    return 0;
  }

  const std::uint32_t stored = request.size;
  Check(stored >= 2 && stored % 2 == 0, "a stored size is not an even count of at least 2");
  Check(stored <= shape.capacity, "a stored size beyond the capacity");
  Check(buffer.UntouchedFrom(stored), "bytes written past the stored size");
  const std::uint8_t* bytes = buffer.begin();
  Check(bytes[stored - 2] == 0 && bytes[stored - 1] == 0, "the stored string has no final NUL");
  std::u16string text(stored / 2 - 1, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  // One UTF-16 unit at most per byte of UTF-8.
  Check(text.size() <= value.size(), "more UTF-16 units than the file has bytes");
  switch (Classify(value)) {
    case Utf8::RoundTrips:
      Check(orv::ToUtf8(text) == value, "well-formed UTF-8 does not come back as it was stored");
      break;
    case Utf8::IllFormed:
      Check(text.find(u'\uFFFD') != std::u16string::npos, "ill-formed UTF-8 read without a mark");
      break;
    case Utf8::PairedSurrogates:
      break;
  }
  return 0;
}
