#include "tests/support/windows_model.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "tests/support/test_support.h"

namespace orv::test {

namespace fs = std::filesystem;

namespace {

WindowsModel& Self(const Platform& record) {
  return SeamLayer::Of<WindowsModel>(record);
}

fs::path Normal(StringView path) {
  fs::path normal = FsPath(path).lexically_normal();
  return normal.has_filename() ? normal : normal.parent_path();
}

bool Under(const fs::path& path, const fs::path& folder) {
  return std::mismatch(folder.begin(), folder.end(), path.begin(), path.end()).first ==
         folder.end();
}

fs::file_status Status(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec);
}

// The regular files at or below path, links not followed, in name order.
std::vector<fs::path> FilesBelow(const fs::path& path) {
  if (fs::is_regular_file(Status(path))) return {path};
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_symlink(ec) && it->is_regular_file(ec)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<fs::path> Entries(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path());
  }
  return entries;
}

// What a recursive delete that meets entries in use does: everything else
// goes, the files in use and the folders that hold them (or the current
// folder) stay. True when nothing is left.
bool RemoveWhatIsFree(const WindowsModel& m, const fs::path& path) {
  std::error_code ec;
  if (fs::is_directory(Status(path))) {
    bool all = true;
    for (const fs::path& entry : Entries(path)) all = RemoveWhatIsFree(m, entry) && all;
    if (!all || m.FolderInUse(path)) return false;
  } else if (m.FileInUse(path)) {
    return false;
  }
  return fs::remove(path, ec) && !ec;
}

// The shell's merge of the folder from into the folder to: each file moves
// in, replacing one of its name; each folder moves in or is merged into one
// of its name. What is in use stays where it is. True when everything moved
// and from is gone.
bool MergeInto(const WindowsModel& m, const fs::path& from, const fs::path& to) {
  bool all = true;
  for (const fs::path& entry : Entries(from)) {
    const fs::path target = to / entry.filename();
    const bool folder = fs::is_directory(Status(entry));
    const fs::file_status there = Status(target);
    if (folder && fs::is_directory(there)) {
      all = MergeInto(m, entry, target) && all;
      continue;
    }
    std::error_code ec;
    const bool kindsDiffer = fs::exists(there) && folder != fs::is_directory(there);
    const bool inUse = folder ? m.FolderInUse(entry) : m.FileInUse(entry) || m.FileInUse(target);
    if (kindsDiffer || inUse) {
      all = false;
    } else {
      fs::rename(entry, target, ec);
      all = all && !ec;
    }
  }
  std::error_code ec;
  return all && !m.FolderInUse(from) && fs::remove(from, ec) && !ec;
}

template <typename Function>
struct ModelForward;

template <typename Result, typename... Args>
struct ModelForward<Result (*)(const Platform&, Args...)> {
  template <Op op, auto member>
  static Result Call(const Platform& self, Args... args) {
    WindowsModel& m = Self(self);
    m.Tick(m.options().callStep);
    const Platform& inner = *m.inner;
    const auto pass = [&]() -> Result { return (inner.*member)(inner, args...); };
    const auto a = std::tie(args...);
    const ModelOptions& o = m.options();
    if constexpr (op == Op::Wait) {
      m.Tick(std::get<0>(a));  // counted on the clock, never spent
    } else if constexpr (op == Op::CreateInstanceGuard) {
      return o.session ? m.TakeGuard(std::get<0>(a), std::get<1>(a)) : pass();
    } else if constexpr (op == Op::ReleaseInstanceGuard) {
      if (!o.session) return pass();
      m.DropGuard(std::get<0>(a));
    } else if constexpr (op == Op::LeaveCurrentFolder) {
      if (!o.pinFolders) return pass();
      m.LeaveCurrentFolder();
      return true;
    } else if constexpr (op == Op::ShellRename) {
      const fs::path from = Normal(std::get<0>(a));
      const fs::path to = Normal(std::get<1>(a));
      if (o.mergingRename && fs::exists(Status(to)) && fs::exists(Status(from))) {
        const fs::file_status source = Status(from);
        if (fs::is_directory(source) && fs::is_directory(Status(to))) {
          return MergeInto(m, from, to) || m.Refuse(op, Reason::SharingViolation);
        }
        if (!fs::is_regular_file(source) || !fs::is_regular_file(Status(to))) {
          return m.Refuse(op, Reason::Exists);
        }
        if (m.FileInUse(from) || m.FileInUse(to)) return m.Refuse(op, Reason::SharingViolation);
        std::error_code ec;
        fs::rename(from, to, ec);
        return !ec || m.Refuse(op, Reason::AccessDenied);
      }
      if (m.FolderInUse(from)) return m.Refuse(op, Reason::SharingViolation);
      return pass();
    } else if constexpr (op == Op::ShellDelete) {
      const fs::path path = Normal(std::get<0>(a));
      if (!fs::exists(Status(path)) || !m.FolderInUse(path)) return pass();
      RemoveWhatIsFree(m, path);
      return m.Refuse(op, Reason::SharingViolation);
    } else if constexpr (op == Op::ShellCopy) {
      const fs::path from = Normal(std::get<0>(a));
      const fs::path to = Normal(std::get<1>(a));
      const std::vector<fs::path> files = FilesBelow(from);
      const bool blocked = std::any_of(files.begin(), files.end(),
                                       [&](const fs::path& file) { return m.FileInUse(file); });
      // The copy stops at a file in use; the model stops it before its first
      // file, with the new folder made.
      if (blocked && !fs::exists(Status(to))) {
        std::error_code ec;
        fs::create_directory(to, ec);
        return m.Refuse(op, Reason::SharingViolation);
      }
      if (!pass()) return false;
      for (const fs::path& file : files) m.Scanned(file);
      m.ScannedTree(to);
      return true;
    } else if constexpr (op == Op::CopySingleFile) {
      const fs::path from = Normal(std::get<0>(a));
      const fs::path to = Normal(std::get<1>(a));
      if (m.FileInUse(from) || m.FileInUse(to)) return m.Refuse(op, Reason::SharingViolation);
      if (!pass()) return false;
      m.Scanned(from);
      m.Scanned(to);
      return true;
    } else if constexpr (op == Op::OpenFileForWrite) {
      if (m.FileInUse(Normal(std::get<0>(a)))) {
        m.Refuse(op, Reason::SharingViolation);
        return nullptr;
      }
      FileStream* stream = pass();
      if (stream != nullptr) m.NoteOpen(stream, std::get<0>(a));
      return stream;
    } else if constexpr (op == Op::CloseFile) {
      const fs::path file = m.NoteClosed(std::get<0>(a));
      pass();
      if (!file.empty()) m.Scanned(file);
    } else if constexpr (op == Op::CompareFiles) {
      const fs::path path = Normal(std::get<0>(a));
      const fs::path other = Normal(std::get<1>(a));
      if (m.FileInUse(path) || m.FileInUse(other)) {
        m.Refuse(op, Reason::SharingViolation);
        return FileCompare::Failed;
      }
      const FileCompare result = pass();
      if (result != FileCompare::Failed) {
        m.Scanned(path);
        m.Scanned(other);
      }
      return result;
    } else if constexpr (op == Op::CompareFileWithBytes) {
      const fs::path path = Normal(std::get<0>(a));
      if (m.FileInUse(path)) {
        m.Refuse(op, Reason::SharingViolation);
        return FileCompare::Failed;
      }
      const FileCompare result = pass();
      if (result != FileCompare::Failed) m.Scanned(path);
      return result;
    } else if constexpr (op == Op::ReadFileVersion) {
      const fs::path path = Normal(std::get<0>(a));
      if (m.FileInUse(path)) return m.Refuse(op, Reason::SharingViolation);
      if (!pass()) return false;
      m.Scanned(path);
      return true;
    } else if constexpr (op == Op::ReadSmallFile) {
      if (m.FileInUse(Normal(std::get<0>(a)))) {
        std::get<1>(a).clear();
        return m.Refuse(op, Reason::SharingViolation);
      }
      return pass();
    } else if constexpr (op == Op::FlushFile || op == Op::RemoveFile) {
      // A flush opens the file for writing, a removal for deleting.
      if (m.FileInUse(Normal(std::get<0>(a)))) return m.Refuse(op, Reason::SharingViolation);
      return pass();
    } else {
      return pass();
    }
  }
};

}  // namespace

WindowsModel::WindowsModel(const Platform& inner, ModelOptions options, GuardNamespace* names)
    : SeamLayer(inner),
      options_(std::move(options)),
      names_(names != nullptr ? names : &ownNames_) {
  SetContext(record_);
  FillLayerRecord<ModelForward>(record_);
  record_.InSessionZero = [](const Platform& self) {
    const WindowsModel& m = Self(self);
    return m.options_.session ? *m.options_.session == 0 : m.inner->InSessionZero(*m.inner);
  };
  if (!options_.currentFolder.empty()) currentFolder_ = Normal(options_.currentFolder);
}

WindowsModel::~WindowsModel() {
  // The process ends: its handles close.
  while (!guards_.empty()) DropGuard(const_cast<InstanceGuard*>(guards_.begin()->first));
}

void WindowsModel::HoldFile(StringView path, std::uint64_t milliseconds) {
  heldUntil_[Normal(path)] = milliseconds == kForever ? kForever : now_ + milliseconds;
}

String WindowsModel::ResolveGuardName(StringView name) const {
  if (!options_.session) return String(name);
  constexpr StringView kGlobal = u"Global\\";
  constexpr StringView kLocal = u"Local\\";
  if (name.starts_with(kGlobal)) return String(name);
  if (name.starts_with(kLocal)) name.remove_prefix(kLocal.size());
  if (*options_.session == 0) return String(kGlobal) + String(name);
  return u"Session\\" + FromUtf8(std::to_string(*options_.session)) + u"\\" + String(name);
}

bool WindowsModel::Refuse(Op op, Reason reason) {
  // Recorded as a backend records its reasons: the record's LastError gives
  // it until a newer failure.
  RecordSystemError(ErrorFor(op, reason));
  return false;
}

bool WindowsModel::FileInUse(const fs::path& file) const {
  const auto held = heldUntil_.find(file);
  if (held != heldUntil_.end() && held->second > now_) return true;
  return options_.pinFolders && std::any_of(open_.begin(), open_.end(), [&](const auto& stream) {
           return stream.second == file;
         });
}

bool WindowsModel::FolderInUse(const fs::path& folder) const {
  for (const auto& [file, until] : heldUntil_) {
    if (until > now_ && Under(file, folder)) return true;
  }
  if (!options_.pinFolders) return false;
  if (currentFolder_ && Under(*currentFolder_, folder)) return true;
  return std::any_of(open_.begin(), open_.end(),
                     [&](const auto& stream) { return Under(stream.second, folder); });
}

void WindowsModel::Scanned(const fs::path& file) {
  if (options_.scannerHold == 0) return;
  std::uint64_t& until = heldUntil_[file];
  until = std::max(until, now_ + options_.scannerHold);
}

void WindowsModel::ScannedTree(const fs::path& folder) {
  for (const fs::path& file : FilesBelow(folder)) Scanned(file);
}

void WindowsModel::NoteOpen(const FileStream* stream, const char16_t* path) {
  open_[stream] = Normal(path);
}

fs::path WindowsModel::NoteClosed(const FileStream* stream) {
  const auto it = open_.find(stream);
  if (it == open_.end()) return {};
  fs::path file = it->second;
  open_.erase(it);
  return file;
}

InstanceGuard* WindowsModel::TakeGuard(const char16_t* name, bool& alreadyExists) {
  auto resolved = std::make_unique<String>(ResolveGuardName(name));
  int& handles = names_->handles[*resolved];
  alreadyExists = handles > 0;
  ++handles;
  // CreateMutexW opens the existing object and says so.
  if (alreadyExists) RecordSystemError(ErrorFor(Op::CreateInstanceGuard, Reason::Exists));
  auto* guard = reinterpret_cast<InstanceGuard*>(resolved.get());
  guards_[guard] = std::move(resolved);
  return guard;
}

void WindowsModel::DropGuard(InstanceGuard* guard) {
  const auto it = guards_.find(guard);
  if (it == guards_.end()) return;
  if (--names_->handles[*it->second] == 0) names_->handles.erase(*it->second);
  guards_.erase(it);
}

}  // namespace orv::test
