// Placeholder bodies until the book, tablebase and Monte-Carlo code provide them.
#include "interface/option_hooks.h"

namespace quorix {

void book_reopen() {}
void tablebase_reinit(const std::string&) {}
int tablebase_largest() { return 0; }

}  // namespace quorix
