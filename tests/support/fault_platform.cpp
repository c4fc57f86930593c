#include "tests/support/fault_platform.h"

namespace orv::test {

namespace {

FaultPlatform& Self(const Platform& record) {
  return *static_cast<FaultPlatform*>(record.context);
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
    return f.Enter(Op::FileExists) ? 0 : f.real().FileExists(f.real(), path);
  };
  r.FolderExists = [](const Platform& s, const char16_t* path) {
    auto& f = Self(s);
    return f.Enter(Op::FolderExists) ? 0 : f.real().FolderExists(f.real(), path);
  };
  r.ProbeFolderWritable = [](const Platform& s, const char16_t* path) {
    auto& f = Self(s);
    return f.Enter(Op::ProbeFolderWritable) ? -2 : f.real().ProbeFolderWritable(f.real(), path);
  };
  r.ShellDelete = [](const Platform& s, const char16_t* path) {
    auto& f = Self(s);
    return f.Enter(Op::ShellDelete) ? 0 : f.real().ShellDelete(f.real(), path);
  };
  r.ShellCopy = [](const Platform& s, const char16_t* from, const char16_t* to) {
    auto& f = Self(s);
    return f.Enter(Op::ShellCopy) ? 0 : f.real().ShellCopy(f.real(), from, to);
  };
  r.ShellRename = [](const Platform& s, const char16_t* from, const char16_t* to) {
    auto& f = Self(s);
    return f.Enter(Op::ShellRename) ? 0 : f.real().ShellRename(f.real(), from, to);
  };
  r.ReadFileVersion = [](const Platform& s, const char16_t* path, FileVersion4& v) {
    auto& f = Self(s);
    return f.Enter(Op::ReadFileVersion) ? 0 : f.real().ReadFileVersion(f.real(), path, v);
  };
  r.ReadRegistryValue = [](const Platform& s, const char16_t* key, RegistryValueRequest& q) {
    auto& f = Self(s);
    return f.Enter(Op::ReadRegistryValue) ? kErrorAccessDenied
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
    return f.Enter(Op::MakeFolder) ? 0 : f.real().MakeFolder(f.real(), path);
  };
  r.OpenFileForWrite = [](const Platform& s, const char16_t* path, FileStream*& stream) {
    auto& f = Self(s);
    return f.Enter(Op::OpenFileForWrite) ? 13 : f.real().OpenFileForWrite(f.real(), path, stream);
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
    return f.Enter(Op::RemoveFile) ? 0 : f.real().RemoveFile(f.real(), path);
  };
  r.CopySingleFile = [](const Platform& s, const char16_t* from, const char16_t* to, bool x) {
    auto& f = Self(s);
    return f.Enter(Op::CopySingleFile) ? 0 : f.real().CopySingleFile(f.real(), from, to, x);
  };
  r.ReadFileStatus = [](const Platform& s, const char16_t* path, FileStatusRecord& status) {
    auto& f = Self(s);
    return f.Enter(Op::ReadFileStatus) ? 0 : f.real().ReadFileStatus(f.real(), path, status);
  };
  r.WriteFileStatus = [](const Platform& s, const char16_t* path, const FileStatusRecord& st) {
    auto& f = Self(s);
    return f.Enter(Op::WriteFileStatus) ? 0 : f.real().WriteFileStatus(f.real(), path, st);
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
    f.Enter(Op::ShowMessage);
    f.Record(Notice{caption, text, icon});
  };
  r.CreateInstanceGuard = [](const Platform& s, const char16_t* name, bool& exists) {
    auto& f = Self(s);
    InstanceGuard* guard = f.real().CreateInstanceGuard(f.real(), name, exists);
    if (f.Enter(Op::CreateInstanceGuard)) exists = true;
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

bool FaultPlatform::Enter(Op op) {
  const int call = ++calls_[op];
  trace_.push_back(op);
  const auto it = failures_.find(op);
  if (it == failures_.end()) return false;
  for (const auto& [first, count] : it->second) {
    if (call >= first && call - first < count) return true;
  }
  return false;
}

}  // namespace orv::test
