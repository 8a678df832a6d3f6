// Unpacks downloaded cabinets into their folders on a thread of its own, so
// that decoding one cabinet overlaps the download of the next. The worker
// queues each cabinet as its download ends and, before it touches anything
// installed, waits for the queue and reads what became of every cabinet.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

class CabinetUnpacker {
 public:
  struct Outcome {
    bool unpacked = false;
    DWORD error = 0;  // the last error of a failed extraction, never 0
  };

  CabinetUnpacker() = default;
  // Stops and waits for the cabinet being unpacked, if any.
  ~CabinetUnpacker();
  CabinetUnpacker(const CabinetUnpacker&) = delete;
  CabinetUnpacker& operator=(const CabinetUnpacker&) = delete;

  // `folder` must exist and end with a backslash.
  void Queue(const std::string& cabinet, const std::string& folder);
  // Waits until every queued cabinet is done; the outcomes by cabinet path.
  std::map<std::string, Outcome> Finish();
  // No queued cabinet starts any more; returns once the current one ended.
  void Stop();

 private:
  void Work();

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::pair<std::string, std::string>> queue_;
  std::map<std::string, Outcome> outcomes_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;
};
