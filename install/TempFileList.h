// The process-wide list of temporary files: downloaded cabinets, the folders
// they are unpacked into, and the extracted members. Each listed path is
// deleted when the program ends, without error reports; a folder only when
// nothing unlisted is left in it. Safe to use from several threads (the
// worker and its cabinet unpacker add to it at the same time).
#pragma once

#include <mutex>
#include <string>
#include <vector>

class TempFileList {
 public:
  TempFileList() = default;
  TempFileList(const TempFileList&) = delete;
  TempFileList& operator=(const TempFileList&) = delete;
  ~TempFileList() { DeleteAll(); }

  void Add(const std::string& path);
  // Takes a path off the list (case-insensitive), so that it survives the exit.
  bool Remove(const std::string& path);
  bool Contains(const std::string& path) const;
  std::vector<std::string> Paths() const;
  // Deletes every listed file and empty listed folder, newest first (clearing
  // read-only first), and empties the list.
  void DeleteAll();

 private:
  mutable std::mutex lock_;
  std::vector<std::string> paths_;
};

TempFileList& TheTempFileList();
