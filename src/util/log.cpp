#include "util/log.h"

#include <cstdarg>
#include <cstdio>

#include "util/clock.h"

namespace quorix {

namespace {
FILE* g_log = nullptr;
}

void log_printf(const char* fmt, ...) {
  if (!g_log) return;
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  std::fprintf(g_log, "%10.3f %s", elapsed_seconds(), buf);
  std::fflush(g_log);
}

void log_open(const std::string& path) {
  log_close();
  if (!path.empty()) g_log = std::fopen(path.c_str(), "a+");
}

void log_close() {
  if (g_log) std::fclose(g_log);
  g_log = nullptr;
}

}  // namespace quorix
