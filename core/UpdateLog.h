// Update.log: every step of the program, from every thread, as lines of text.
// One process-wide object; it is opened by the entry before anything is
// logged and writes its closing lines when it is closed at process end.
// Items are written straight through (text, then CR LF) with no buffering,
// so the file is complete up to the last item if the process dies.
#pragma once

#include <windows.h>

#include <string>

#include "frame/Handle.h"

class UpdateLog {
 public:
  UpdateLog() = default;
  UpdateLog(const UpdateLog&) = delete;
  UpdateLog& operator=(const UpdateLog&) = delete;
  ~UpdateLog();

  // Chooses the path (next to the program with the "Uninstall" switch, else
  // Documents\Pellory\Logs), falls back to the temporary folder, and opens.
  bool Open(bool uninstallMode);
  // Opens a given file; the temporary folder is still the fallback.
  bool OpenAt(const std::string& path);

  bool WriteStart();
  bool Write(const std::string& text);
  bool WriteEnd();
  void Close();
  // WriteEnd and Close, when still open; what every exit path calls.
  void Finish();

  bool IsOpen() const { return file_.valid(); }
  const std::string& Path() const { return path_; }

 private:
  bool OpenFile(const std::string& path);
  bool WriteBytes(const char* data, size_t size);

  frame::ScopedFile file_;
  std::string path_;
};

// The process's log; LogWrite and LogFormat (core/Log.h) write to it once
// InstallUpdateLogSink has run.
UpdateLog& TheUpdateLog();
void InstallUpdateLogSink();

// The fixed 24-character local time form: "Www Mmm dd hh:mm:ss yyyy".
std::string FormatLogTime(const SYSTEMTIME& time);

// Where the log goes for a run (without the temporary-folder fallback).
std::string UpdateLogPath(bool uninstallMode);

