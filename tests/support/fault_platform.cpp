#include "tests/support/fault_platform.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "tests/support/test_support.h"

namespace orv::test {

namespace {

FaultPlatform& Self(const Platform& record) {
  return *static_cast<FaultPlatform*>(record.context);
}

// What an interrupted recursive copy or delete leaves: every second file of
// the tree (in name order) gone, the rest in place.
void RemoveEverySecondFile(const char16_t* folder) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(FsPath(folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->is_regular_file(ec)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  for (std::size_t i = 0; i < files.size(); i += 2) fs::remove(files[i], ec);
}

}  // namespace

const char* Name(Op op) {
  static const char* const names[] = {
      "FileExists",         "FolderExists",        "ProbeFolderWritable", "ShellDelete",
      "ShellCopy",          "ShellRename",         "ReadFileVersion",     "ReadRegistryValue",
      "MakeLocalTimeStamp", "TempFolder",          "MakeFolder",          "OpenFileForWrite",
      "WriteToFile",        "CloseFile",           "RemoveFile",          "CopySingleFile",
      "ReadFileStatus",     "WriteFileStatus",     "FindPayload",         "LoadTableString",
      "ShowMessage",        "CreateInstanceGuard", "ReleaseInstanceGuard"};
  return names[static_cast<int>(op)];
}

FaultPlatform::FaultPlatform(const Platform& real) : real_(real), record_(real) {
  Platform& r = record_;
  r.context = this;
  r.FileExists = [](const Platform& s, const char16_t* path) {
    auto& f = Self(s);
    return f.Enter(Op::FileExists, path) ? 0 : f.real().FileExists(f.real(), path);
  };
  r.FolderExists = [](const Platform& s, const char16_t* path) {
    auto& f = Self(s);
    return f.Enter(Op::FolderExists, path) ? 0 : f.real().FolderExists(f.real(), path);
  };
  r.ProbeFolderWritable = [](const Platform& s, const char16_t* path) {
    auto& f = Self(s);
    return f.Enter(Op::ProbeFolderWritable, path) ? -2
                                                  : f.real().ProbeFolderWritable(f.real(), path);
  };
  r.ShellDelete = [](const Platform& s, const char16_t* path) {
    auto& f = Self(s);
    if (!f.Enter(Op::ShellDelete, path)) return f.real().ShellDelete(f.real(), path);
    if (f.PartialEffects()) RemoveEverySecondFile(path);
    return 0;
  };
  r.ShellCopy = [](const Platform& s, const char16_t* from, const char16_t* to) {
    auto& f = Self(s);
    if (!f.Enter(Op::ShellCopy, from, to)) return f.real().ShellCopy(f.real(), from, to);
    if (f.PartialEffects() && f.real().ShellCopy(f.real(), from, to) == 1) {
      RemoveEverySecondFile(to);
    }
    return 0;
  };
  r.ShellRename = [](const Platform& s, const char16_t* from, const char16_t* to) {
    auto& f = Self(s);
    return f.Enter(Op::ShellRename, from, to) ? 0 : f.real().ShellRename(f.real(), from, to);
  };
  r.ReadFileVersion = [](const Platform& s, const char16_t* path, FileVersion4& v) {
    auto& f = Self(s);
    return f.Enter(Op::ReadFileVersion, path) ? 0 : f.real().ReadFileVersion(f.real(), path, v);
  };
  r.ReadRegistryValue = [](const Platform& s, const char16_t* key, RegistryValueRequest& q) {
    auto& f = Self(s);
    return f.Enter(Op::ReadRegistryValue, key) ? kErrorAccessDenied
                                               : f.real().ReadRegistryValue(f.real(), key, q);
  };
  r.MakeLocalTimeStamp = [](const Platform& s, std::int32_t d, std::int32_t h, std::int32_t m,
                            std::int32_t sec, std::int64_t& value) {
    auto& f = Self(s);
    return f.Enter(Op::MakeLocalTimeStamp)
               ? kTimeStampFailed
               : f.real().MakeLocalTimeStamp(f.real(), d, h, m, sec, value);
  };
  r.TempFolder = [](const Platform& s, char16_t* buffer, std::uint32_t capacity) {
    auto& f = Self(s);
    return f.Enter(Op::TempFolder) ? 0u : f.real().TempFolder(f.real(), buffer, capacity);
  };
  r.MakeFolder = [](const Platform& s, const char16_t* path) {
    auto& f = Self(s);
    return f.Enter(Op::MakeFolder, path) ? 0 : f.real().MakeFolder(f.real(), path);
  };
  r.OpenFileForWrite = [](const Platform& s, const char16_t* path, FileStream*& stream) {
    auto& f = Self(s);
    return f.Enter(Op::OpenFileForWrite, path) ? 13
                                               : f.real().OpenFileForWrite(f.real(), path, stream);
  };
  r.WriteToFile = [](const Platform& s, FileStream* stream, const void* data, std::size_t size) {
    auto& f = Self(s);
    // A failing write is a short one: half the bytes really land.
    if (f.Enter(Op::WriteToFile)) return f.real().WriteToFile(f.real(), stream, data, size / 2);
    return f.real().WriteToFile(f.real(), stream, data, size);
  };
  r.CloseFile = [](const Platform& s, FileStream* stream) {
    auto& f = Self(s);
    f.Enter(Op::CloseFile);
    f.real().CloseFile(f.real(), stream);
  };
  r.RemoveFile = [](const Platform& s, const char16_t* path) {
    auto& f = Self(s);
    return f.Enter(Op::RemoveFile, path) ? 0 : f.real().RemoveFile(f.real(), path);
  };
  r.CopySingleFile = [](const Platform& s, const char16_t* from, const char16_t* to, bool x) {
    auto& f = Self(s);
    if (!f.Enter(Op::CopySingleFile, from, to)) {
      return f.real().CopySingleFile(f.real(), from, to, x);
    }
    if (f.PartialEffects() && f.real().CopySingleFile(f.real(), from, to, x) != 0) {
      std::filesystem::resize_file(FsPath(to), std::filesystem::file_size(FsPath(to)) / 2);
    }
    return 0;
  };
  r.ReadFileStatus = [](const Platform& s, const char16_t* path, FileStatusRecord& status) {
    auto& f = Self(s);
    return f.Enter(Op::ReadFileStatus, path) ? 0 : f.real().ReadFileStatus(f.real(), path, status);
  };
  r.WriteFileStatus = [](const Platform& s, const char16_t* path, const FileStatusRecord& st) {
    auto& f = Self(s);
    return f.Enter(Op::WriteFileStatus, path) ? 0 : f.real().WriteFileStatus(f.real(), path, st);
  };
  r.FindPayload = [](const Platform& s, int id, const std::uint8_t*& data, std::size_t& size) {
    auto& f = Self(s);
    return f.Enter(Op::FindPayload) ? 0 : f.real().FindPayload(f.real(), id, data, size);
  };
  r.LoadTableString = [](const Platform& s, int id, String& text) {
    auto& f = Self(s);
    if (f.Enter(Op::LoadTableString)) {
      text.clear();
      return 0;
    }
    return f.real().LoadTableString(f.real(), id, text);
  };
  r.ShowMessage = [](const Platform& s, const char16_t* caption, const char16_t* text,
                     MessageIcon icon) {
    auto& f = Self(s);
    f.Enter(Op::ShowMessage, text);
    f.Record(Notice{caption, text, icon});
  };
  r.CreateInstanceGuard = [](const Platform& s, const char16_t* name, bool& exists) {
    auto& f = Self(s);
    const bool fail = f.Enter(Op::CreateInstanceGuard, name);
    InstanceGuard* guard = f.real().CreateInstanceGuard(f.real(), name, exists);
    if (fail) exists = true;
    return guard;
  };
  r.ReleaseInstanceGuard = [](const Platform& s, InstanceGuard* guard) {
    auto& f = Self(s);
    f.Enter(Op::ReleaseInstanceGuard);
    f.real().ReleaseInstanceGuard(f.real(), guard);
  };
}

void FaultPlatform::Fail(Op op, int first, int count) {
  failures_[op].emplace_back(first, count);
}

int FaultPlatform::Calls(Op op) const {
  const auto it = calls_.find(op);
  return it == calls_.end() ? 0 : it->second;
}

bool FaultPlatform::Enter(Op op, const char16_t* path, const char16_t* to) {
  const int index = static_cast<int>(trace_.size());
  if (index == crashBefore_) std::_Exit(kCrashExitCode);
  const int call = ++calls_[op];
  Call& record = trace_.emplace_back(Call{op, path != nullptr ? path : u"", false});
  if (to != nullptr) record.path.append(u" -> ").append(to);
  record.failed = failFrom_ >= 0 && index >= failFrom_;
  const auto it = failures_.find(op);
  if (it != failures_.end()) {
    for (const auto& [first, count] : it->second) {
      if (call >= first && call - first < count) record.failed = true;
    }
  }
  return record.failed;
}

}  // namespace orv::test
