// Placeholder until the history update rules land.
#include "search/history.h"

namespace quorix {

void init_history_bonus() {}

}  // namespace quorix
