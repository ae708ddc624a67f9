#include "eval/hash_tables.h"

namespace quorix {

uint64_t g_pawn_mask = 0;

}  // namespace quorix
