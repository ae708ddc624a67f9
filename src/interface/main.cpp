// Program entry: start-up in a fixed order, then a tool or the UCI loop.
#include <cstdio>
#include <cstring>

#include "interface/startup.h"
#include "interface/uci.h"

int main(int argc, char** argv) {
  using namespace quorix;
  engine_startup();
  if (argc > 1) {
    int rc = 0;
    if (run_tool(argc, argv, rc)) shutdown_and_exit(rc);
  }
  return uci_loop();
}
