// Transposition table (placeholder: no table yet).
#include "search/tt_prefetch.h"

namespace quorix {

char* g_tt_clusters = nullptr;
uint64_t g_tt_mask = 0;

}  // namespace quorix
