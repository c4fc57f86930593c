// A test layer over a real platform record: counts every call, records the
// notices instead of showing them, and fails chosen calls of chosen
// operations with that operation's failure result and a realistic reason
// (what LastError then gives). The failed calls do what a real failure does;
// everything else goes to the real backend.
#pragma once

#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/seam_layer.h"

namespace orv::test {

using Op = SeamOp;

inline const char* Name(Op op) {
  return NameOf(op);
}

// What went wrong, in words every build can turn into its own code.
enum class Reason {
  AccessDenied,
  SharingViolation,
  DiskFull,
  PathNotFound,
  InvalidData,
  Exists,
  NotReady,
};

// What a call does to file data that a power cut may lose.
enum class DataEffect : std::uint8_t {
  NoData,
  WritesData,   // the open file's bytes
  CopiesFile,   // the copy's target
  CopiesTree,   // every file of the new tree
  FlushesData,  // the named file's bytes are on stable storage
  MovesData,    // what was not flushed goes with the new name
  RemovesData,  // and what was not flushed with it
};

// An operation's facts for the tests, from its row (the disk's is EffectOf).
struct OpFacts {
  DataEffect data;
  Reason reason;        // the failure a real machine most likely gives
  ErrorSource windows;  // what the Windows backend tells a failure in
};

#define ORV_TEST_FACTS(disk, data, reason, windows) \
  OpFacts{DataEffect::data, Reason::reason, ErrorSource::windows},
inline constexpr OpFacts kOpFacts[] = {
#define ORV_SEAM_ROW(name, result, parameters, facts) ORV_TEST_FACTS facts
#define ORV_SEAM_QUERY(name, result, parameters)
#include "platform/seam_ops.inc"
#undef ORV_SEAM_QUERY
#undef ORV_SEAM_ROW
};
#undef ORV_TEST_FACTS
inline constexpr int kOpCount = static_cast<int>(std::size(kOpFacts));

constexpr const OpFacts& FactsOf(Op op) {
  return kOpFacts[static_cast<int>(op)];
}

// One call through the record: the operation, the path or paths it was given
// ("from -> to" for copies and renames), and whether it was made to fail.
struct Call {
  Op op;
  String path;
  bool failed = false;
};

struct Notice {
  String caption;
  String text;
  MessageIcon icon;
};

class FaultPlatform : public SeamLayer {
 public:
  explicit FaultPlatform(const Platform& real);
  FaultPlatform(const FaultPlatform&) = delete;
  FaultPlatform& operator=(const FaultPlatform&) = delete;

  const Platform& platform() const { return record_; }

  // Calls number first .. first + count - 1 of op (counted from 1) fail.
  void Fail(Op op, int first, int count = 1);
  // Every call of op fails.
  void FailAlways(Op op) { Fail(op, 1, 1 << 30); }
  // Every call from the index-th on (counted from 0 over all operations)
  // fails, whatever its operation.
  void FailFrom(int index) { failFrom_ = index; }
  // A failed shell copy or delete really does part of its work first, and a
  // failed single-file copy leaves half the file, as an interrupted one may.
  void SetPartialEffects(bool partial) { partial_ = partial; }
  bool PartialEffects() const { return partial_; }
  // A writable folder's probe file stays behind, as when a scanner holds it
  // while the probe removes it: reported to the caller for removal.
  void LeaveProbeFile() { leaveProbeFile_ = true; }
  bool LeavesProbeFile() const { return leaveProbeFile_; }
  // The process ends at once, with kCrashExitCode, just before the index-th
  // call (counted from 0) would be made: a power cut or a killed process.
  void CrashBefore(int index) { crashBefore_ = index; }
  static constexpr int kCrashExitCode = 86;
  // The crash is a power cut: every file whose data was written through the
  // record (written to, the target of a file copy, a file of a shell copy's
  // new tree) and not flushed since keeps its name, length and times but
  // loses its bytes (zeros), as journalling file systems commonly leave it.
  // Renames follow such a file to its new name. Not modelled: a rename, or
  // a new name, lost because its folder was not flushed.
  void SetPowerLoss(bool powerLoss) { powerLoss_ = powerLoss; }

  // effect runs just before the nth call of op (counted from 1) is made:
  // someone else changing the disk at that moment.
  void BeforeCall(Op op, int n, std::function<void()> effect) {
    effects_[{op, n}] = std::move(effect);
  }

  int Calls(Op op) const;
  // Shell copies asked for with a target name that was already taken.
  int CopiesOntoTakenNames() const { return copiesOntoTakenNames_; }
  void NoteCopyOntoTakenName() { ++copiesOntoTakenNames_; }
  const std::vector<Call>& Trace() const { return trace_; }
  const std::vector<Notice>& Notices() const { return notices_; }
  // The waits asked for, in milliseconds, in order: counted, not spent.
  const std::vector<std::uint32_t>& Waits() const { return waits_; }
  void RecordWait(std::uint32_t milliseconds) { waits_.push_back(milliseconds); }
  // Each wait also goes to the wrapped record: for a record that counts
  // time without spending it (the Windows model's clock), never for the
  // system's backend, which would sleep.
  void ForwardWaits() { forwardWaits_ = true; }
  bool ForwardsWaits() const { return forwardWaits_; }

  // For the wrapped record's functions.
  const Platform& real() const { return *inner; }
  // Counts and records the call; true when it must fail.
  bool Enter(Op op, const char16_t* path = nullptr, const char16_t* to = nullptr);
  void Record(Notice notice) { notices_.push_back(std::move(notice)); }
  // The reason of the failure just injected: LastError gives it until the
  // real backend records a newer one. As on a real system, a call that goes
  // through and succeeds leaves the reason of the last failure as it was.
  void SetInjectedError(std::optional<SystemError> error) {
    injected_ = error;
    injectedAt_ = SystemErrorsRecorded();
  }
  // The file a stream was opened for, so that the trace of a write or a
  // close names it.
  void NoteStream(const FileStream* stream, const char16_t* path) { streams_[stream] = path; }
  const char16_t* PathOf(const FileStream* stream) const {
    const auto it = streams_.find(stream);
    return it == streams_.end() ? nullptr : it->second.c_str();
  }
  std::optional<SystemError> InjectedError() const {
    return SystemErrorsRecorded() == injectedAt_ ? injected_ : std::nullopt;
  }
  // What a call of op on these paths did to the data a power cut would
  // lose; done when it went through and succeeded.
  void NoteData(Op op, const char16_t* path, const char16_t* to, bool done);

 private:
  Platform record_;
  std::map<Op, int> calls_;
  std::map<Op, std::vector<std::pair<int, int>>> failures_;
  std::vector<Call> trace_;
  int failFrom_ = -1;
  int crashBefore_ = -1;
  bool partial_ = false;
  bool leaveProbeFile_ = false;
  int copiesOntoTakenNames_ = 0;
  std::vector<Notice> notices_;
  std::vector<std::uint32_t> waits_;
  std::optional<SystemError> injected_;
  std::uint64_t injectedAt_ = 0;
  std::map<const FileStream*, String> streams_;
  std::map<std::pair<Op, int>, std::function<void()>> effects_;
  bool powerLoss_ = false;
  bool forwardWaits_ = false;
  std::set<std::filesystem::path> unflushed_;  // lexically normal
  void LoseUnflushedData() const;
};

// The reason the layer gives for an injected failure of op, in this build's
// terms (Windows error codes, the shell's results, or errno).
SystemError InjectedError(Op op);
// A failure of op for that reason, in this build's terms.
SystemError ErrorFor(Op op, Reason reason);

}  // namespace orv::test
