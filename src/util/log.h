// The engine's log file ("Log File" option): time-stamped lines, nothing when closed.
#pragma once
#include <string>

namespace quorix {

void log_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void log_open(const std::string& path);
void log_close();

}  // namespace quorix
