// The engine's one assertion: checked in every build, prints the condition and aborts.
#pragma once
#include <cstdio>
#include <cstdlib>

#define QUORIX_CHECK(cond, text)                                                       \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      std::fprintf(stderr, "Assertion failed: %s, file %s\n", text, __FILE__);         \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)
