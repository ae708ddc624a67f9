// Actions of option changes whose subsystems live elsewhere (book, tablebases, MCTS).
#pragma once
#include <string>

namespace quorix {

// Closes the open book file and opens "Book File" unless "Book Moves" is 0.
void book_reopen();
// Re-initialises tablebase probing with the given path.
void tablebase_reinit(const std::string& path);
// Largest piece count for which tablebase files were found (0 = none).
int tablebase_largest();
// Runs a re-initialisation that arrived during a search (before the next search starts).
void tablebase_apply_pending();
// Reallocates the Monte-Carlo table for mb megabytes.
void mcts_table_resize(int mb);

}  // namespace quorix
