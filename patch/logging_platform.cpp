#include "patch/logging_platform.h"

#include <algorithm>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

namespace orv {

namespace {

// The calls that change names on the disk, as their rows say: logged when
// they succeed too.
constexpr bool IsChange(SeamOp op) {
  return EffectOf(op) == SeamEffect::Change;
}

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <typename Result>
bool Succeeded(const Result& result) {
  if constexpr (std::is_same_v<Result, bool>) {
    return result;
  } else if constexpr (std::is_pointer_v<Result>) {
    return result != nullptr;
  } else if constexpr (IsOptional<Result>::value) {
    return result.has_value();
  } else if constexpr (std::is_same_v<Result, FolderProbe>) {
    return result == FolderProbe::Writable;
  } else if constexpr (std::is_same_v<Result, FileProbe>) {
    return result == FileProbe::Present;
  } else if constexpr (std::is_same_v<Result, FileCompare>) {
    return result == FileCompare::Same;
  } else if constexpr (std::is_same_v<Result, NameOwner>) {
    return result == NameOwner::Ours || result == NameOwner::Others;
  } else {
    static_assert(std::is_same_v<Result, RegistryRead>);
    return result == RegistryRead::Read;
  }
}

// A look that answered "no" rather than failed: a folder that is not
// there, a file the system says is absent.
template <typename Result>
bool SaysNo(SeamOp op, const Result& result) {
  if constexpr (std::is_same_v<Result, FileProbe>) {
    return result == FileProbe::Absent;
  } else if constexpr (std::is_same_v<Result, NameOwner>) {
    return result == NameOwner::Absent;
  } else {
    return op == SeamOp::FolderExists;
  }
}

template <typename Function>
struct LogForward;

template <typename Result, typename... Args>
struct LogForward<Result (*)(const Platform&, Args...)> {
  template <SeamOp op, auto member>
  static Result Call(const Platform& self, Args... args) {
    auto& layer = SeamLayer::Of<LoggingPlatform>(self);
    const Platform& inner = *layer.inner;
    if constexpr (op == SeamOp::Wait) {
      layer.ReportWait(args...);
      (inner.*member)(inner, std::forward<Args>(args)...);
    } else if constexpr (std::is_void_v<Result>) {
      (inner.*member)(inner, std::forward<Args>(args)...);
    } else {
      Result result = (inner.*member)(inner, std::forward<Args>(args)...);
      const char16_t* paths[2] = {nullptr, nullptr};
      int found = 0;
      [[maybe_unused]] const auto take = [&](const auto& arg) {
        if constexpr (std::is_same_v<std::decay_t<decltype(arg)>, const char16_t*>) {
          if (found < 2) paths[found++] = arg;
        }
      };
      (take(args), ...);
      layer.Report(op, paths[0], paths[1], Succeeded(result), SaysNo(op, result));
      return result;
    }
  }
};

}  // namespace

LoggingPlatform::LoggingPlatform(const Platform& inner, RunLog& log) : SeamLayer(inner), log_(log) {
  SetContext(record_);
  FillLayerRecord<LogForward>(record_);
}

void LoggingPlatform::Report(SeamOp op, const char16_t* path, const char16_t* to, bool succeeded,
                             bool saysNo) {
  // A look that answered is not logged, and does not break a retry's count;
  // whether a name is a link is answered either way.
  if ((succeeded || op == SeamOp::IsLink) && !IsChange(op)) return;
  String paths = path != nullptr ? String(path) : String();
  if (to != nullptr) paths.append(u" -> ").append(to);
  auto it = std::find_if(attempts_.begin(), attempts_.end(),
                         [&](const Attempts& a) { return a.op == op && a.paths == paths; });
  if (it == attempts_.end()) it = attempts_.insert(attempts_.end(), Attempts{op, paths});
  it->count = it->count > 0 && it->waitsSeen != waits_ ? it->count + 1 : 1;
  it->waitsSeen = waits_;
  const int attempt = it->count;
  std::string line = NameOf(op);
  if (!paths.empty()) line += " " + LogText(paths);
  if (succeeded) attempts_.erase(it);
  if (!succeeded) {
    lastFailure_ = line;
    lastFailureAttempt_ = attempt;
  }
  if (IsChange(op) || attempt > 1) line += ", attempt " + std::to_string(attempt);
  if (succeeded) {
    log_.Line(line + ": done");
  } else if (saysNo) {
    // An answer, not a failure: the reason says why the name counts as free.
    log_.Failure(line + ": no");
  } else {
    log_.Failure(line + ": failed");
  }
}

void LoggingPlatform::ReportWait(std::uint32_t milliseconds) {
  ++waits_;
  log_.Line("waiting " + std::to_string(milliseconds) + " ms before attempt " +
            std::to_string(lastFailureAttempt_ + 1) + " of " + lastFailure_);
}

}  // namespace orv
