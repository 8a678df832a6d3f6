#include "install/CabinetUnpacker.h"

#include "install/ExtractCabinet.h"

CabinetUnpacker::~CabinetUnpacker() {
  Stop();
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void CabinetUnpacker::Queue(const std::string& cabinet, const std::string& folder) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_) return;
    queue_.emplace_back(cabinet, folder);
  }
  if (!thread_.joinable()) thread_ = std::thread(&CabinetUnpacker::Work, this);
  changed_.notify_all();
}

std::map<std::string, CabinetUnpacker::Outcome> CabinetUnpacker::Finish() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return queue_.empty() && !busy_; });
  return outcomes_;
}

void CabinetUnpacker::Stop() {
  std::unique_lock<std::mutex> hold(lock_);
  queue_.clear();
  changed_.wait(hold, [this] { return !busy_; });
}

void CabinetUnpacker::Work() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    const std::pair<std::string, std::string> job = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    hold.unlock();
    Outcome outcome;
    try {
      outcome.unpacked = ExtractCabinetTo(job.first, job.second, nullptr) != 0;
      if (!outcome.unpacked) outcome.error = ::GetLastError();
    } catch (...) {
      // Out of memory in the middle: the worker reports the cabinet as bad.
      outcome.unpacked = false;
      outcome.error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (!outcome.unpacked && outcome.error == 0) outcome.error = ERROR_GEN_FAILURE;
    hold.lock();
    outcomes_[job.first] = outcome;
    busy_ = false;
    changed_.notify_all();
  }
}
