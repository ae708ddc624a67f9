#include "search/hooks.h"

namespace quorix {

SearchOptions g_search_options;
SearchHooks g_search_hooks;

}  // namespace quorix
