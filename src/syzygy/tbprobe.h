// Syzygy endgame tablebases: file discovery, lazy mapping, WDL/DTZ probes and
// the root move filters built on them.
#pragma once
#include <cstdint>
#include <string>

#include "board/position.h"

namespace quorix::tb {

// Re-reads the tablebase directories ("<empty>" or "" = none). Directories are
// separated by ':' or ';'. Prints the "Found ..." line when a path is given.
void init(const std::string& path);
// Releases every mapping and the registry (also done by init).
void release();

// Largest piece count (kings included) of any WDL table found; 0 = none.
int largest();
int wdl_files();
int dtz_files();
int dtm_files();

// WDL value of p for the side to move: -2 loss, -1 blessed loss, 0 draw,
// 1 cursed win, 2 win. ok is cleared when no result is available.
int probe_wdl(const Position& p, bool& ok);
// Distance to the next zeroing move in plies, signed by the result (0 = draw);
// cursed wins and blessed losses are offset by 100. ok as above.
int probe_dtz(const Position& p, bool& ok);

struct RootResult {
  uint16_t move;
  int value;
};

// Root filters: keep the moves that preserve the best tablebase result.
// out receives the kept moves (capacity: 256 entries) followed by a 0 move;
// the return value is their count, 0 when probing failed (use all moves).
// score receives the root's tablebase score.
int root_filter_dtz(const Position& root, RootResult* out, int& score);
int root_filter_wdl(const Position& root, bool rule50, RootResult* out, int& score);

// Decodes one table image held in memory (tests and fuzzing): kind 0 = WDL,
// 1 = DTZ; name is the material ("KQvK"). Returns false when the image is
// rejected. When accepted, probes of that material use the image until
// clear_image() or the next init().
bool load_image(const std::string& name, int kind, const uint8_t* data, size_t size);
void clear_image();

}  // namespace quorix::tb
