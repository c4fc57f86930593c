#include "tests/support/fault_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <tuple>
#include <type_traits>
#include <utility>

#include "tests/support/test_support.h"

namespace orv::test {

namespace {

FaultPlatform& Self(const Platform& record) {
  return SeamLayer::Of<FaultPlatform>(record);
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

SystemError InjectedError(Op op) {
  return ErrorFor(op, FactsOf(op).reason);
}

SystemError ErrorFor([[maybe_unused]] Op op, Reason reason) {
#ifdef _WIN32
  // ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_DISK_FULL,
  // ERROR_PATH_NOT_FOUND, ERROR_INVALID_DATA, ERROR_ALREADY_EXISTS,
  // ERROR_NOT_READY: the shell answers with these codes too.
  static constexpr std::uint32_t kWin32[] = {5, 32, 112, 3, 13, 183, 21};
  // EACCES, EBUSY, ENOSPC, ENOENT, EINVAL, EEXIST, EIO of the Windows C
  // runtime.
  static constexpr std::uint32_t kCrt[] = {13, 16, 28, 2, 22, 17, 5};
  const auto at = static_cast<std::size_t>(reason);
  const ErrorSource source = FactsOf(op).windows;
  return {source, source == ErrorSource::Errno ? kCrt[at] : kWin32[at]};
#else
  static constexpr int kErrno[] = {EACCES, EBUSY, ENOSPC, ENOENT, EINVAL, EEXIST, EIO};
  return {ErrorSource::Errno, static_cast<std::uint32_t>(kErrno[static_cast<int>(reason)])};
#endif
}

namespace {

// The rows' facts agree with each other: a call that copies, moves or
// removes data changes names, one that writes it changes a file, a flush
// leaves the disk as it was; and a Windows failure is told in one of the
// three.
constexpr bool FactsAgree(Op op) {
  const OpFacts& facts = FactsOf(op);
  const SeamEffect disk = EffectOf(op);
  const bool told = facts.windows == ErrorSource::Win32 || facts.windows == ErrorSource::Shell ||
                    facts.windows == ErrorSource::Errno;
  switch (facts.data) {
    case DataEffect::NoData:
      return told;
    case DataEffect::WritesData:
      return told && disk == SeamEffect::Write;
    case DataEffect::FlushesData:
      return told && disk == SeamEffect::Look;
    default:
      return told && disk == SeamEffect::Change;
  }
}

constexpr bool AllFactsAgree() {
  for (int op = 0; op < kOpCount; ++op) {
    if (!FactsAgree(static_cast<Op>(op))) return false;
  }
  return true;
}
static_assert(AllFactsAgree(), "a row of seam_ops.inc states facts that contradict each other");

}  // namespace

namespace {

struct Paths {
  const char16_t* first = nullptr;
  const char16_t* second = nullptr;
};

// The path-like arguments of a call, in order: what its trace shows.
template <typename... Args>
Paths PathsOf(const Args&... args) {
  Paths paths;
  [[maybe_unused]] const auto take = [&paths](const auto& arg) {
    if constexpr (std::is_same_v<std::decay_t<decltype(arg)>, const char16_t*>) {
      (paths.first == nullptr ? paths.first : paths.second) = arg;
    }
  };
  (take(args), ...);
  return paths;
}

// A call that goes through: to the real backend, except the notice, which is
// recorded instead of shown.
template <Op op, auto member, typename... Args>
auto Pass(FaultPlatform& f, Args&&... args) {
  if constexpr (op == Op::ShowMessage) {
    const auto& [caption, text, icon] = std::tie(args...);
    f.Record(Notice{caption, text, icon});
  } else if constexpr (op == Op::Wait) {
    // Counted, never spent: a test passes no real time in a back-off. A
    // record below that keeps a clock of its own is told of it.
    f.RecordWait(std::get<0>(std::tie(args...)));
    if (f.ForwardsWaits()) (f.real().*member)(f.real(), std::forward<Args>(args)...);
  } else {
    return (f.real().*member)(f.real(), std::forward<Args>(args)...);
  }
}

// A call made to fail: the operation's failure result, with what a real
// failure of it leaves behind.
template <Op op, auto member, typename Result, typename... Args>
Result Failed(FaultPlatform& f, Args&&... args) {
  if constexpr (std::is_void_v<Result>) {
    // Closing, letting go and showing have no failure of their own.
    Pass<op, member>(f, std::forward<Args>(args)...);
  } else {
    const auto& a = std::tie(args...);
    const Platform& real = f.real();
    if constexpr (op == Op::ShellDelete) {
      if (f.PartialEffects()) RemoveEverySecondFile(std::get<0>(a));
    } else if constexpr (op == Op::ShellCopy) {
      if (f.PartialEffects() && real.ShellCopy(real, std::get<0>(a), std::get<1>(a))) {
        RemoveEverySecondFile(std::get<1>(a));
      }
    } else if constexpr (op == Op::CopySingleFile) {
      if (f.PartialEffects() && Pass<op, member>(f, std::forward<Args>(args)...)) {
        const auto to = FsPath(std::get<1>(a));
        std::filesystem::resize_file(to, std::filesystem::file_size(to) / 2);
      }
    } else if constexpr (op == Op::WriteToFile) {
      // A failing write is a short one: half the bytes really land.
      real.WriteToFile(real, std::get<0>(a), std::get<1>(a), std::get<2>(a) / 2);
    } else if constexpr (op == Op::LoadTableString) {
      std::get<1>(a).clear();
    } else if constexpr (op == Op::CreateInstanceGuard) {
      // Another instance holds the guard: the handle is real all the same.
      InstanceGuard* guard = Pass<op, member>(f, std::forward<Args>(args)...);
      std::get<1>(a) = true;
      f.SetInjectedError(InjectedError(op));
      return guard;
    }
    f.SetInjectedError(InjectedError(op));
    if constexpr (std::is_same_v<Result, FolderProbe>) {
      return FolderProbe::NotWritable;
    } else if constexpr (std::is_same_v<Result, FileProbe>) {
      return FileProbe::Unanswered;
    } else if constexpr (std::is_same_v<Result, RegistryRead>) {
      return RegistryRead::Failed;
    } else if constexpr (std::is_same_v<Result, FileCompare>) {
      return FileCompare::Failed;
    } else if constexpr (std::is_same_v<Result, NameOwner>) {
      return NameOwner::Unanswered;
    } else {
      return Result{};  // false, null, or no time stamp
    }
  }
}

// The calls that write, flush, move or remove file data a power cut may
// lose.
constexpr bool TouchesData(Op op) {
  return FactsOf(op).data != DataEffect::NoData;
}

template <typename Function>
struct FaultForward;

template <typename Result, typename... Args>
struct FaultForward<Result (*)(const Platform&, Args...)> {
  template <Op op, auto member>
  static Result Call(const Platform& self, Args... args) {
    FaultPlatform& f = Self(self);
    Paths paths = PathsOf(args...);
    // A notice is known by its text; its caption never changes. A write or a
    // close by the file it goes to.
    if constexpr (op == Op::ShowMessage) paths = {paths.second, nullptr};
    if constexpr (op == Op::WriteToFile || op == Op::CloseFile) {
      paths.first = f.PathOf(std::get<0>(std::tie(args...)));
    }
    // Never made by the program, whether the call then fails or not: the
    // shell would copy into what is there.
    if constexpr (op == Op::ShellCopy) {
      if (paths.second != nullptr && Exists(paths.second)) f.NoteCopyOntoTakenName();
    }
    const bool fails = f.Enter(op, paths.first, paths.second);
    if constexpr (TouchesData(op)) {
      const bool done = fails ? Failed<op, member, Result>(f, std::forward<Args>(args)...)
                              : Pass<op, member>(f, std::forward<Args>(args)...);
      f.NoteData(op, paths.first, paths.second, done);
      return done;
    }
    if (fails) return Failed<op, member, Result>(f, std::forward<Args>(args)...);
    if constexpr (op == Op::ProbeFolderWritable) {
      const FolderProbe probe = Pass<op, member>(f, std::forward<Args>(args)...);
      const auto& [folder, probeFile] = std::tie(args...);
      if (probe == FolderProbe::Writable && f.LeavesProbeFile()) {
        probeFile.Assign(JoinPath(folder, u"~sh4F2A.TMP"));
        WriteBytes(probeFile.view(), "");
      }
      return probe;
    } else if constexpr (op == Op::OpenFileForWrite) {
      FileStream* stream = Pass<op, member>(f, std::forward<Args>(args)...);
      if (stream != nullptr) f.NoteStream(stream, paths.first);
      return stream;
    } else {
      return Pass<op, member>(f, std::forward<Args>(args)...);
    }
  }
};

}  // namespace

FaultPlatform::FaultPlatform(const Platform& real) : SeamLayer(real) {
  SetContext(record_);
  FillLayerRecord<FaultForward>(record_);
  // The reason of an injected failure is the layer's own; any other is the
  // real backend's.
  record_.LastError = [](const Platform& self) {
    const FaultPlatform& f = Self(self);
    return f.InjectedError() ? *f.InjectedError() : f.real().LastError(f.real());
  };
}

void FaultPlatform::Fail(Op op, int first, int count) {
  failures_[op].emplace_back(first, count);
}

int FaultPlatform::Calls(Op op) const {
  const auto it = calls_.find(op);
  return it == calls_.end() ? 0 : it->second;
}

namespace {

bool Under(const std::filesystem::path& path, const std::filesystem::path& folder) {
  return std::mismatch(folder.begin(), folder.end(), path.begin(), path.end()).first ==
         folder.end();
}

}  // namespace

void FaultPlatform::NoteData(Op op, const char16_t* path, const char16_t* to, bool done) {
  namespace fs = std::filesystem;
  if (!powerLoss_ || path == nullptr) return;
  const fs::path first = FsPath(path).lexically_normal();
  const fs::path second = to != nullptr ? FsPath(to).lexically_normal() : fs::path();
  std::error_code ec;
  switch (FactsOf(op).data) {
    case DataEffect::NoData:
      break;
    case DataEffect::WritesData:
      // A failed write lands part of its bytes all the same.
      unflushed_.insert(first);
      break;
    case DataEffect::CopiesFile:
      if (fs::is_regular_file(fs::symlink_status(second, ec))) unflushed_.insert(second);
      break;
    case DataEffect::CopiesTree:
      // Whatever of the new tree is there, done or not.
      for (fs::recursive_directory_iterator it(second, ec), end; !ec && it != end;
           it.increment(ec)) {
        if (it->is_regular_file(ec) && !it->is_symlink(ec)) {
          unflushed_.insert(it->path().lexically_normal());
        }
      }
      break;
    case DataEffect::FlushesData:
      if (done) unflushed_.erase(first);
      break;
    case DataEffect::MovesData: {
      if (!done) break;
      std::set<fs::path> moved;
      for (const fs::path& file : unflushed_) {
        moved.insert(Under(file, first) ? second / file.lexically_relative(first) : file);
      }
      unflushed_ = std::move(moved);
      break;
    }
    case DataEffect::RemovesData:
      if (done) std::erase_if(unflushed_, [&](const fs::path& file) { return Under(file, first); });
      break;
  }
}

void FaultPlatform::LoseUnflushedData() const {
  namespace fs = std::filesystem;
  for (const fs::path& file : unflushed_) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(file, ec))) continue;
    const auto size = fs::file_size(file, ec);
    const auto time = fs::last_write_time(file, ec);
    if (ec) continue;
    // Cut to nothing and grown again: the length stays, every byte reads 0.
    fs::resize_file(file, 0, ec);
    fs::resize_file(file, size, ec);
    fs::last_write_time(file, time, ec);
  }
}

bool FaultPlatform::Enter(Op op, const char16_t* path, const char16_t* to) {
  const int index = static_cast<int>(trace_.size());
  if (index == crashBefore_) {
    if (powerLoss_) LoseUnflushedData();
    std::_Exit(kCrashExitCode);
  }
  const int call = ++calls_[op];
  if (const auto effect = effects_.find({op, call}); effect != effects_.end()) effect->second();
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
