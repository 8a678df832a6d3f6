// The process-wide list of temporary files: downloaded cabinets, the folders
// they are unpacked into, and the extracted members. Each listed path is
// deleted when the program ends, without error reports; a folder only when
// nothing unlisted is left in it. Used from the catalogue fetch and the worker, one at a time.
#pragma once

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
  const std::vector<std::string>& Paths() const { return paths_; }
  // Deletes every listed file and empty listed folder, newest first (clearing
  // read-only first), and empties the list.
  void DeleteAll();

 private:
  std::vector<std::string> paths_;
};

TempFileList& TheTempFileList();
