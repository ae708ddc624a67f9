// The "bench" command-line tool.
#pragma once

namespace quorix {

// Runs "bench [threads [depth [repetitions]]]" (argv[1] is "bench"); returns the exit code.
int run_bench(int argc, char** argv);

}  // namespace quorix
