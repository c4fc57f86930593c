#include "tools/pegen/pe_generator.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace orv::pegen {
namespace {

constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kHeadersSize = 0x200;
constexpr std::uint32_t kPeOffset = 0x40;
constexpr std::uint32_t kOptionalOffset = kPeOffset + 24;
constexpr std::uint16_t kLanguage = 0x0409;  // en-US, Unicode code page below
constexpr std::uint16_t kCodePage = 0x04B0;
constexpr std::uint8_t kCode[] = {0x31, 0xC0, 0xC3};  // xor eax,eax; ret: exit code 0

std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// Little-endian bytes, appended or patched in place.
class Bytes {
 public:
  explicit Bytes(std::size_t size = 0) : data_(size, 0) {}
  std::size_t size() const { return data_.size(); }
  std::vector<std::uint8_t>& data() { return data_; }

  // width: 1 to 8 bytes.
  void Set(std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
      data_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
  }
  void Add(std::uint64_t value, std::size_t width) {
    data_.resize(data_.size() + width);
    Set(data_.size() - width, value, width);
  }
  void AddZeros(std::size_t count) { data_.resize(data_.size() + count, 0); }
  void AddText(std::u16string_view text) {  // with its NUL
    for (const char16_t c : text) Add(c, 2);
    Add(0, 2);
  }
  void Align4() { data_.resize(AlignUp(static_cast<std::uint32_t>(data_.size()), 4), 0); }
  void CopyAt(std::size_t at, const Bytes& other) {
    for (std::size_t i = 0; i < other.data_.size(); ++i) data_[at + i] = other.data_[i];
  }
  void Append(const Bytes& other) {
    data_.insert(data_.end(), other.data_.begin(), other.data_.end());
  }

 private:
  std::vector<std::uint8_t> data_;
};

std::uint32_t Packed(std::int32_t high, std::int32_t low) {
  return ((static_cast<std::uint32_t>(high) & 0xFFFF) << 16) |
         (static_cast<std::uint32_t>(low) & 0xFFFF);
}

std::u16string VersionText(const FileVersion4& v) {
  const std::string text =
      ToText(FromFixedInfo(Packed(v.major, v.minor), Packed(v.build, v.privatePart)));
  return std::u16string(text.begin(), text.end());
}

// A version block's header (length patched by EndBlock), key and padding.
std::size_t BeginBlock(Bytes& out, std::u16string_view key, std::uint16_t valueLength,
                       std::uint16_t type) {
  out.Align4();
  const std::size_t start = out.size();
  out.Add(0, 2);
  out.Add(valueLength, 2);
  out.Add(type, 2);
  out.AddText(key);
  out.Align4();
  return start;
}
void EndBlock(Bytes& out, std::size_t start) {
  out.Set(start, out.size() - start, 2);
}

void AddString(Bytes& out, std::u16string_view key, std::u16string_view value) {
  // A text value's length counts WORDs, its NUL included.
  const std::size_t start = BeginBlock(out, key, static_cast<std::uint16_t>(value.size() + 1), 1);
  out.AddText(value);
  EndBlock(out, start);
}

Bytes VersionInfo(const PeImageSpec& spec) {
  Bytes out;
  const std::size_t root = BeginBlock(out, u"VS_VERSION_INFO", 52, 0);
  const FileVersion4& f = spec.fileVersion;
  const FileVersion4& p = spec.productVersion;
  const std::uint32_t fixed[13] = {0xFEEF04BD,
                                   0x00010000,
                                   Packed(f.major, f.minor),
                                   Packed(f.build, f.privatePart),
                                   Packed(p.major, p.minor),
                                   Packed(p.build, p.privatePart),
                                   0x3F,
                                   0,
                                   0x40004,
                                   spec.executable ? 1u : 2u,  // VFT_APP, VFT_DLL
                                   0,
                                   0,
                                   0};
  for (const std::uint32_t value : fixed) out.Add(value, 4);

  const std::size_t strings = BeginBlock(out, u"StringFileInfo", 0, 1);
  const std::size_t table = BeginBlock(out, u"040904B0", 0, 1);
  AddString(out, u"FileVersion", VersionText(f));
  AddString(out, u"ProductVersion", VersionText(p));
  EndBlock(out, table);
  EndBlock(out, strings);

  const std::size_t vars = BeginBlock(out, u"VarFileInfo", 0, 1);
  const std::size_t translation = BeginBlock(out, u"Translation", 4, 0);
  out.Add(kLanguage, 2);
  out.Add(kCodePage, 2);
  EndBlock(out, translation);
  EndBlock(out, vars);
  EndBlock(out, root);
  return out;
}

// The .rsrc content at `rva`: type -> name -> language directories, one data
// entry, the version block. Without a version, an empty root directory.
Bytes Resources(const PeImageSpec& spec, std::uint32_t rva) {
  Bytes out;
  if (!spec.hasVersion) {
    out.AddZeros(16);
    return out;
  }
  const std::uint32_t levels[3][2] = {{16, 0x80000018u},  // RT_VERSION
                                      {spec.versionResourceId, 0x80000030u},
                                      {kLanguage, 0x48}};
  for (const auto& level : levels) {
    out.AddZeros(12);  // characteristics, time stamp, version
    out.Add(0, 2);     // named entries
    out.Add(1, 2);     // id entries
    out.Add(level[0], 4);
    out.Add(level[1], 4);
  }
  const Bytes block = VersionInfo(spec);
  out.Add(rva + 0x58, 4);
  out.Add(block.size(), 4);
  out.Add(0, 8);  // code page, reserved
  out.Append(block);
  return out;
}

void SetSection(Bytes& image, std::size_t at, const char* name, std::uint32_t virtualSize,
                std::uint32_t rva, std::uint32_t rawSize, std::uint32_t rawPointer,
                std::uint32_t characteristics) {
  for (std::size_t i = 0; name[i] != '\0'; ++i) {
    image.Set(at + i, static_cast<std::uint8_t>(name[i]), 1);
  }
  image.Set(at + 8, virtualSize, 4);
  image.Set(at + 12, rva, 4);
  image.Set(at + 16, rawSize, 4);
  image.Set(at + 20, rawPointer, 4);
  image.Set(at + 36, characteristics, 4);
}

}  // namespace

std::vector<std::uint8_t> MakePeImage(const PeImageSpec& spec) {
  const bool exe = spec.executable;
  const bool wide = spec.pe32plus;
  const std::uint32_t textRaw = exe ? kFileAlignment : 0;
  const std::uint32_t rsrcRva = exe ? 2 * kSectionAlignment : kSectionAlignment;
  const Bytes resources = Resources(spec, rsrcRva);
  const std::uint32_t resourcesSize = static_cast<std::uint32_t>(resources.size());
  const std::uint32_t smallest = kHeadersSize + textRaw + AlignUp(resourcesSize, kFileAlignment);
  const std::uint32_t total = spec.size == 0 ? smallest : spec.size;
  if (total < smallest) return {};
  // The loader maps whole sections only: padding goes inside .rsrc, and just
  // the remainder under one file alignment trails the last section.
  const std::uint32_t rsrcRaw = (total - kHeadersSize - textRaw) / kFileAlignment * kFileAlignment;
  const std::uint32_t rsrcPointer = kHeadersSize + textRaw;

  Bytes image(total);
  image.Set(0, 'M' | ('Z' << 8), 2);
  image.Set(0x3C, kPeOffset, 4);
  image.Set(kPeOffset, 0x00004550, 4);  // "PE\0\0"
  const std::uint16_t sections = exe ? 2 : 1;
  const std::uint32_t optionalSize = wide ? 240 : 224;
  image.Set(kPeOffset + 4, wide ? 0x8664 : 0x14C, 2);
  image.Set(kPeOffset + 6, sections, 2);  // the time stamp stays 0: reproducible output
  image.Set(kPeOffset + 20, optionalSize, 2);
  // Executable image, 32-bit machine or large-address aware, DLL.
  image.Set(kPeOffset + 22, 0x0002 | (wide ? 0x0020 : 0x0100) | (exe ? 0 : 0x2000), 2);

  const std::size_t o = kOptionalOffset;
  image.Set(o, wide ? 0x20B : 0x10B, 2);
  image.Set(o + 2, 14, 1);  // linker version
  image.Set(o + 4, textRaw, 4);
  image.Set(o + 8, rsrcRaw, 4);
  image.Set(o + 16, exe ? kSectionAlignment : 0, 4);  // entry point; none for the DLL
  image.Set(o + 20, exe ? kSectionAlignment : 0, 4);
  if (wide) {
    image.Set(o + 24, exe ? 0x140000000ull : 0x180000000ull, 8);
  } else {
    image.Set(o + 24, rsrcRva, 4);
    image.Set(o + 28, exe ? 0x400000u : 0x10000000u, 4);
  }
  image.Set(o + 32, kSectionAlignment, 4);
  image.Set(o + 36, kFileAlignment, 4);
  image.Set(o + 40, 6, 2);  // operating system version 6.0
  image.Set(o + 48, 6, 2);  // subsystem version 6.0
  image.Set(o + 56, rsrcRva + AlignUp(rsrcRaw, kSectionAlignment), 4);
  image.Set(o + 60, kHeadersSize, 4);
  image.Set(o + 68, 2, 2);           // Windows GUI
  image.Set(o + 70, 0x100, 2);       // NX compatible
  const std::size_t sizes = o + 72;  // stack and heap reserve and commit
  const std::size_t width = wide ? 8 : 4;
  const std::uint32_t reserveCommit[4] = {0x100000, 0x1000, 0x100000, 0x1000};
  for (std::size_t i = 0; i < 4; ++i) image.Set(sizes + i * width, reserveCommit[i], width);
  const std::size_t directories = sizes + 4 * width + 8;
  image.Set(directories - 4, 16, 4);
  image.Set(directories + 8 * 2, rsrcRva, 4);
  image.Set(directories + 8 * 2 + 4, resourcesSize, 4);

  std::size_t header = kOptionalOffset + optionalSize;
  if (exe) {
    SetSection(image, header, ".text", sizeof kCode, kSectionAlignment, textRaw, kHeadersSize,
               0x60000020);  // code, execute, read
    for (std::size_t i = 0; i < sizeof kCode; ++i) image.Set(kHeadersSize + i, kCode[i], 1);
    header += 40;
  }
  SetSection(image, header, ".rsrc", rsrcRaw, rsrcRva, rsrcRaw, rsrcPointer,
             0x40000040);  // initialized data, read
  image.CopyAt(rsrcPointer, resources);
  return std::move(image.data());
}

}  // namespace orv::pegen
