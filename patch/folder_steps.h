// The retried steps on names, files and folders that every part of a run
// takes: looking at a name, writing a whole file, renaming a folder and
// removing what the run made. Each is retried as patch/retry.h says.
#pragma once

#include <cstddef>

#include "platform/seam.h"

namespace orv {

// Whether anything, folder or file, bears the name: Absent when nothing
// does (a file of that name is not ours to copy onto, nor to remove after a
// failed copy), Unanswered when the volume could not tell.
FileProbe LookAtName(const Platform& platform, const String& name);

// Creates or empties target and writes size bytes of data to it, retried;
// a failed attempt removes what it wrote.
bool WriteWholeFile(const Platform& platform, const char16_t* target, const void* data,
                    std::size_t size);

// A folder rename, retried like every other.
bool RenameFolder(const Platform& platform, const String& from, const String& to);

// Removes a work folder of this run, retried like every other removal: one
// passing failure (a scanner holding a file for a moment) must not leave a
// half-deleted folder behind for good. A folder that is not there needs
// nothing more; an empty name was never made.
void RemoveWorkFolder(const Platform& platform, const String& folder);

// Removes a file of this run's, retried; true once no file bears the name.
bool RemoveWorkFile(const Platform& platform, const char16_t* file);

}  // namespace orv
