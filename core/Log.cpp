#include "core/Log.h"

#include <cstdarg>
#include <mutex>
#include <utility>

#include "core/TextFormat.h"

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
  std::string text = FormatTextV(format, args);
  va_end(args);
  LogWrite(text);
}
