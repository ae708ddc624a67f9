// Program clock: seconds since start-up (steady clock).
#pragma once

namespace quorix {

double elapsed_seconds();
// Restarts the clock (program start).
void init_start_time();

}  // namespace quorix
