// A test layer over a real platform record: counts every call, records the
// notices instead of showing them, and fails chosen calls of chosen
// operations with that operation's failure result. The failed calls do what
// a real failure does; everything else goes to the real backend.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/seam.h"

namespace orv::test {

enum class Op {
  FileExists,
  FolderExists,
  ProbeFolderWritable,
  ShellDelete,
  ShellCopy,
  ShellRename,
  ReadFileVersion,
  ReadRegistryValue,
  MakeLocalTimeStamp,
  TempFolder,
  MakeFolder,
  OpenFileForWrite,
  WriteToFile,
  CloseFile,
  RemoveFile,
  CopySingleFile,
  ReadFileStatus,
  WriteFileStatus,
  FindPayload,
  LoadTableString,
  ShowMessage,
  CreateInstanceGuard,
  ReleaseInstanceGuard,
};

const char* Name(Op op);

struct Notice {
  String caption;
  String text;
  MessageIcon icon;
};

class FaultPlatform {
 public:
  explicit FaultPlatform(const Platform& real);
  FaultPlatform(const FaultPlatform&) = delete;
  FaultPlatform& operator=(const FaultPlatform&) = delete;

  const Platform& platform() const { return record_; }

  // Calls number first .. first + count - 1 of op (counted from 1) fail.
  void Fail(Op op, int first, int count = 1);
  // Every call of op fails.
  void FailAlways(Op op) { Fail(op, 1, 1 << 30); }

  int Calls(Op op) const;
  const std::vector<Op>& Trace() const { return trace_; }
  const std::vector<Notice>& Notices() const { return notices_; }

  // For the wrapped record's functions.
  const Platform& real() const { return real_; }
  bool Enter(Op op);  // counts the call; true when it must fail
  void Record(Notice notice) { notices_.push_back(std::move(notice)); }

 private:
  const Platform& real_;
  Platform record_;
  std::map<Op, int> calls_;
  std::map<Op, std::vector<std::pair<int, int>>> failures_;
  std::vector<Op> trace_;
  std::vector<Notice> notices_;
};

}  // namespace orv::test
