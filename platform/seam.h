// The one seam through which the program reaches the outside world: a plain
// record of operations that a backend fills in. The stages receive it by
// reference and never know which backend is behind it; a test wraps a real
// backend's record to count calls and fail any of them.
//
// Every operation receives the record it was called through, so a wrapper can
// find its own state (context) and the record it wraps. The operations and
// their contracts are listed once, in seam_ops.inc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/file_status.h"
#include "platform/file_version.h"
#include "platform/local_time.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/system_error.h"
#include "platform/text.h"

namespace orv {

struct FileStream;     // an open file, backend-defined
struct InstanceGuard;  // a held single-instance guard, backend-defined
struct Platform;

enum class MessageIcon : std::uint32_t {
  Information = 0x40,  // MB_ICONINFORMATION
  Warning = 0x30,      // MB_ICONWARNING
};

// What a look for a file's name found.
enum class FileProbe : std::uint8_t {
  Present,     // a file or folder bears the name, whether or not it can be opened
  Absent,      // the system says there is none
  Unanswered,  // the system could not tell (device not ready, network gone, I/O error)
};

enum class FolderProbe : std::uint8_t {
  Writable,
  Missing,      // missing, or not a folder
  NotWritable,  // no file can be created in it
};

enum class FileCompare : std::uint8_t {
  Same,
  Different,  // another length, or other bytes
  Failed,     // could not be read to the end
};

// Who owns a name.
enum class NameOwner : std::uint8_t {
  Absent,      // nothing bears the name
  Ours,        // the account this process runs as
  Others,      // any other account
  Unanswered,  // the owner could not be read
};

// What a file or folder is, whatever name it is reached by: the volume and
// the file's number on it.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t high = 0;
  std::uint64_t low = 0;

  bool operator==(const FileIdentity&) const = default;
};

// An operation's parameter list, the record it is called through first.
#define ORV_SEAM_PARAMETERS(...) (const ::orv::Platform& self __VA_OPT__(, ) __VA_ARGS__)

struct Platform {
  // Free for the filler of the record: a wrapper keeps its state here.
  void* context = nullptr;

#define ORV_SEAM_OP(name, result, parameters) \
  result(*name) ORV_SEAM_PARAMETERS parameters = nullptr;
#include "platform/seam_ops.inc"
#undef ORV_SEAM_OP
};

// One value per operation on the outside world (the list's ORV_SEAM_OP rows),
// for the layers that wrap a record: the log's and the tests' fault layer.
enum class SeamOp {
#define ORV_SEAM_OP(name, result, parameters) name,
#define ORV_SEAM_QUERY(name, result, parameters)
#include "platform/seam_ops.inc"
#undef ORV_SEAM_QUERY
#undef ORV_SEAM_OP
};
const char* NameOf(SeamOp op);

// What an operation does to the disk: the first of its row's facts.
enum class SeamEffect : std::uint8_t {
  Look,    // reads, looks, flushes or waits: the disk is as it was
  Write,   // changes what a file holds or the process's own state
  Change,  // makes, copies, moves or removes names, or sets their access
};

// Takes a row's facts, all four or none: a row that leaves one out does not
// compile.
#define ORV_SEAM_EFFECT(disk, data, reason, windows) SeamEffect::disk
inline constexpr SeamEffect kSeamEffects[] = {
#define ORV_SEAM_ROW(name, result, parameters, facts) ORV_SEAM_EFFECT facts,
#define ORV_SEAM_QUERY(name, result, parameters)
#include "platform/seam_ops.inc"
#undef ORV_SEAM_QUERY
#undef ORV_SEAM_ROW
};
#undef ORV_SEAM_EFFECT

constexpr SeamEffect EffectOf(SeamOp op) {
  return kSeamEffects[static_cast<int>(op)];
}

// Declares a backend's implementation of every operation, in the namespace
// where it stands:  #define ORV_SEAM_OP ORV_SEAM_DECLARE, then include
// seam_ops.inc.
#define ORV_SEAM_DECLARE(name, result, parameters) result name ORV_SEAM_PARAMETERS parameters;

// The record of the backend this build was made with (Win32 or POSIX).
const Platform& SystemPlatform();

}  // namespace orv
