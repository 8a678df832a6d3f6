// Update.json, the run summary on disk (see core/RunSummary.h).
#pragma once

#include <string>

// The running program's file version, "a.b.c.d"; "" when it has none.
std::string ProgramVersionText();
// "yyyy-mm-ddThh:mm:ssZ", now.
std::string UtcTimeNow();
// Update.json in the folder of the log at `logPath`; "" without a log.
std::string RunSummaryPath(const std::string& logPath);
// Writes the summary with this exit code; false (logged) when it could not.
bool WriteRunSummary(const std::string& path, int exitCode);
