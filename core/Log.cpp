#include "core/Log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace {

LogSink& Sink() {
  static LogSink sink;
  return sink;
}

// The worker, the window threads and the main thread all log: one line at a
// time, so that lines never mix and a sink never runs twice at once.
std::recursive_mutex& SinkLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace

LogSink SetLogSink(LogSink sink) {
  std::lock_guard<std::recursive_mutex> hold(SinkLock());
  LogSink previous = std::move(Sink());
  Sink() = std::move(sink);
  return previous;
}

void LogWrite(const std::string& text) {
  std::lock_guard<std::recursive_mutex> hold(SinkLock());
  if (Sink()) Sink()(text);
}

void LogFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  LogWrite(text);
}
