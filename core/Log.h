// The program's one way to log. Every subsystem writes through LogWrite or
// LogFormat; the text goes to the installed sink, which in the program is the
// process-wide update log (Update.log). Native tools and tests install a sink
// of their own; with no sink installed the lines are dropped.
#pragma once

#include <functional>
#include <string>

using LogSink = std::function<void(const std::string& text)>;

// Replaces the sink; returns the previous one so that a test can restore it.
LogSink SetLogSink(LogSink sink);

// One logged item: the text, then CR LF in the log file.
void LogWrite(const std::string& text);

// printf-style formatting, then LogWrite. No length limit.
void LogFormat(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
