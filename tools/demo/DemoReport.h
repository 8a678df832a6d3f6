// The demo's report of what a run left: the installation's files with their
// versions, registry keys, the exit code's meaning, the log's tail and the
// run summary.
#pragma once

#include <windows.h>

#include <string>

namespace demo {

// Every file below `dir`, shown from `shown`, with its size and version.
void ListFiles(const std::string& dir, const std::string& shown);
// Every value of a key, as "name = data".
void PrintKey(HKEY root, const std::string& rootName, const std::string& path);
// What an exit code of the program means.
const char* Meaning(int code);
void PrintLogTail(const std::string& logPath, size_t lines);
// The last lines of the update log in Documents\Pellory\Logs.
void PrintLogTail(size_t lines);
// The run summary beside the update log, as it is.
void PrintRunSummary();

}  // namespace demo
