// Start-up sequence shared by the executable, the tools and the tests.
#pragma once

namespace quorix {

// Runs every start-up step (tables, options, thread records, networks). Idempotent.
void engine_startup();
// Runs a command-line tool named by argv[1]; returns false when argv[1] names none.
bool run_tool(int argc, char** argv, int& exit_code);

}  // namespace quorix
