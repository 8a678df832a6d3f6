// Putting a complete file in the place of another: the new bytes are made
// (copied, or renamed when nothing needs the source again) under a fresh name
// in the target's folder, on the same volume, and one rename puts them in
// place. The old file stays whole until then; a failure removes the side copy
// (or moves a renamed source back) and leaves the target as it was.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

// Splits at the last backslash: "C:\Dir\" and "Foo.dll".
std::pair<std::string, std::string> SplitFolder(const std::string& path);

// A fresh name in `folder` (ending in a backslash) for a file on its way to
// its place: short (an 8.3 name) and unlikely to be in use; callers still
// try the next attempt when it is.
std::string SideName(const std::string& folder, unsigned attempt);
constexpr unsigned kSideNameAttempts = 64;

// Puts a copy of `source` in the place of `target`. 0 or the system error code.
DWORD ReplaceByCopy(const std::string& source, const std::string& target);
// The same for a `source` nothing needs afterwards: renamed beside `target`
// where the volume allows it, else copied. `moved` says which; on a failure
// `source` is where it was.
DWORD ReplaceByMove(const std::string& source, const std::string& target, bool& moved);

// Tests replace the copy of a new file into its destination's folder
// (CopyFileA, an existing target refused), to make it fail part-way; an empty
// function puts the real one back. Returns the previous one.
using FileCopyCall = std::function<BOOL(const std::string& from, const std::string& to)>;
FileCopyCall SetFileCopyCallForTests(FileCopyCall call);

// Tests replace the older family's plain renames (MoveFileA) that put a new
// file in place of an old one, to make one of them fail; an empty function
// puts the real one back. Returns the previous one.
using FileMoveCall = std::function<BOOL(const std::string& from, const std::string& to)>;
FileMoveCall SetFileMoveCallForTests(FileMoveCall call);

// Tests replace the move of an extracted file to a fresh name beside its
// destination (MoveFileExA, a rename on the same volume only), to make it
// fail as across volumes; an empty function puts the real one back. Returns
// the previous one.
FileMoveCall SetSideMoveCallForTests(FileMoveCall call);
