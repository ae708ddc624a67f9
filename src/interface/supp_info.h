// Position features for programs that load the engine as a shared library.
#pragma once

extern "C" {

// Reads a position in the form of a UCI "position" command (the first word is
// ignored: "position startpos moves e2e4", "position fen <FEN> moves ...") and
// returns one line of numbers: piece bitboards, en-passant square, attack sets,
// pawn-structure sets, pins, side to move, fifty-move counter, castling, piece
// counts, phase, material value and material scale. Malformed text gives
// "error: invalid pos_str argument". The returned text belongs to the library and
// is overwritten by the next call (every call returns the same pointer); calls from
// several threads are serialised, but each caller must copy the text before the
// next call.
__attribute__((visibility("default"))) const char* supp_info(const char* pos_str);

}
