// History tables: bonus tables and update rules.
#pragma once

namespace quorix {

// Fills the depth-indexed bonus tables (start-up and after option changes).
void init_history_bonus();

}  // namespace quorix
