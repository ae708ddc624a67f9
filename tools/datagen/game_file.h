// Self-play game files (.qgd) and the fixed-size position records (.qpos) unpacked from them.
//
// A game file is a sequence of blocks, each written whole and flushed, so a killed writer
// loses at most the block it was writing:
//   u32 magic (bytes 'Q','G','D','B'), u32 compressed size, u32 raw size, zlib data.
// The raw data of a block is a sequence of whole games:
//   u8 FEN length, FEN bytes, u8 result (0 black won, 1 draw, 2 white won), u16 move count n,
//   n x { u8 index of the played move among the legal moves sorted by ascending 16-bit code,
//         i16 search score from the side to move's view }.
// All numbers are little-endian. See tools/datagen/README.md.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "board/position.h"

namespace quorix::datagen {

constexpr uint8_t RESULT_BLACK_WON = 0, RESULT_DRAW = 1, RESULT_WHITE_WON = 2;
constexpr size_t BLOCK_HEADER_BYTES = 12;
// Readers refuse blocks claiming more than this (a writer flushes far smaller blocks).
constexpr uint32_t MAX_BLOCK_BYTES = 64u << 20;
constexpr size_t POS_RECORD_BYTES = 72;
constexpr int MATE_RANGE_SCORE = 31000;

struct GameRecord {
  std::string fen;
  uint8_t result = RESULT_DRAW;
  std::vector<uint8_t> index;   // played move per ply, as an index into sorted_legal_moves
  std::vector<int16_t> score;   // search score per ply (side to move)
};

// Legal moves of p sorted by ascending move code; p.in_check must be correct. Returns the count.
int sorted_legal_moves(const Position& p, Move* out);

// Checks that fen describes a position the board code can take safely: eight ranks of
// eight squares, known piece letters, one king per side, no pawn on the first or last rank,
// material reachable in a game, the side not to move not in check, sane remaining fields.
bool fen_is_sound(const std::string& fen, std::string& err);

// Sets p from a sound FEN (see fen_is_sound), including its half-move clock.
void setup_position(Position& p, const std::string& fen);

// Appends one game in the raw block layout.
void append_game(std::vector<uint8_t>& raw, const GameRecord& g);

// Compresses raw and appends it as one block to f (flushed). False with err on failure.
bool write_block(std::FILE* f, const std::vector<uint8_t>& raw, std::string& err);

// Reads the blocks of one game file in order.
class GameFileReader {
 public:
  explicit GameFileReader(const std::string& path);
  ~GameFileReader();
  GameFileReader(const GameFileReader&) = delete;
  GameFileReader& operator=(const GameFileReader&) = delete;

  // Next block's games appended to games. False at the end of the file or on damage
  // (then error() is non-empty and the rest of the file is not read).
  bool next_block(std::vector<GameRecord>& games);
  const std::string& error() const { return err_; }
  uint64_t blocks_read() const { return blocks_; }

 private:
  std::FILE* f_ = nullptr;
  std::string path_;
  std::string err_;
  uint64_t blocks_ = 0;
  uint64_t offset_ = 0;
};

// Parses the games of one decompressed block. False with err on damage; games holds only
// the games read whole before it.
bool parse_games(const uint8_t* raw, size_t size, std::vector<GameRecord>& games, std::string& err);

// Replays a game and appends one 72-byte record per recorded ply to out. On a bad FEN or
// move index, nothing is appended and err tells why.
bool unpack_game(const GameRecord& g, std::vector<uint8_t>& out, std::string& err);

}  // namespace quorix::datagen
