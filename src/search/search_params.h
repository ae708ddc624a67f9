// Margins, depth limits and weights of the alpha-beta node routines, in one place.
// Depths are in half-plies (2 = one ply), scores in centipawns.
#pragma once

namespace quorix::sp {

// ---- Table and node entry
constexpr int TT_CUT_MAX_FIFTY = 90;        // no table cutoffs from this fifty-move count on
constexpr int TT_CUT_REWARD_DEPTH = 30;     // a table cutoff rewards its quiet move up to this depth
constexpr int EVAL_NOT_SET = 999999;        // static_eval of a record no search has evaluated

// ---- Static evaluation (non-PV windows) and the improving flag
constexpr int EVAL_FULL_DEPTH = 18;         // from this depth on: the full window
constexpr int EVAL_NARROW_DEPTH = 4;        // up to this depth: beta -+ EVAL_NARROW_MARGIN
constexpr int EVAL_NARROW_MARGIN = 200;
constexpr int EVAL_MARGIN_BASE = 253;       // between them: beta -+ (base + per_depth * depth)
constexpr int EVAL_MARGIN_PER_DEPTH = 10;
constexpr int IMPROVING_SLACK = 10;         // improving: at least the eval two plies up minus this

// ---- Reverse futility and null move
constexpr int NULL_MAX_BETA = 31799;        // neither with a mate-range beta
constexpr int RFP_MAX_DEPTH = 10;
constexpr int RFP_MAX_BETA = 9999;
constexpr int NULL_EVAL_MARGIN_BASE = 108;  // static eval >= beta - per_depth * depth + base
constexpr int NULL_EVAL_MARGIN_PER_DEPTH = 9;
constexpr int NULL_R_PER_DEPTH = 150;       // reduction (plies) = (per_depth * depth + eval term + base) / 1000
constexpr int NULL_R_EVAL_WEIGHT = 10;
constexpr int NULL_R_EVAL_CAP = 3000;
constexpr int NULL_R_BASE = 2590;
constexpr int NULL_MATED_SCORE = -29000;    // a null-move child below this counts as beta
constexpr int NULL_THREAT_MARGIN = 200;     // a null move failing this far below beta shows a threat
constexpr int NULL_THREAT_LMR_LIMIT = 4;    // ... which ends reduced nodes below this reduction
constexpr int NULL_THREAT_EXTENSION = 2;    // ... and extends the others
constexpr int NULL_VERIFY_DEPTH = 15;       // null-move cutoffs are verified from this depth
constexpr int NULL_VERIFY_PHASE = 9;        // ... or, from this phase on, from the deeper depth
constexpr int NULL_VERIFY_DEEP = 25;

// ---- Internal search for a move
constexpr int IID_MIN_DEPTH = 16;
constexpr int IID_REDUCTION = 14;           // non-PV nodes
constexpr int IID_EVAL_MARGIN = 100;        // non-PV: only when raw eval + margin >= beta
constexpr int PV_IID_REDUCTION = 10;
constexpr int PV_IID_ALPHA_MARGIN = 5;

// ---- Tactical nodes (non-PV): far below beta, only tactical moves are tried
constexpr int TACTICAL_MAX_DEPTH = 15;
constexpr int TACTICAL_DEPTH_OFFSET = 25;   // e + (depth + offset) * depth < beta
constexpr int TACTICAL_BEST_MARGIN = 30;    // the node's score starts at beta - margin
constexpr int TACTICAL_DEFERRED_DEPTH = 6;  // from this depth the deferred tactical stages

// ---- Move pruning
constexpr int PRUNE_DEPTH = 23;             // no move pruning deeper than this
constexpr int UNDERPROMOTION_DEPTH = 31;    // under-promotions are tried from this depth on
constexpr int SEE_PRUNE_DEPTH = 14;         // captures and checks: exchange test up to this depth
constexpr int SEE_PRUNE_PER_DEPTH = 42;     // ... losing more than per_depth * depth
constexpr int LMP_MAX_DEPTH = 20;           // late-move count pruning up to this depth
constexpr int CONT_PRUNE_DEPTH = 6;         // predicted depth up to which weak continuation rows prune
constexpr int CONT_LOW = 15999;             // ... a continuation entry at most this is weak
constexpr int HISTORY_LOW = 16000;          // ... and the butterfly entry below this
constexpr int FUTILITY_DEPTH = 10;          // futility of quiet moves up to this predicted depth
constexpr int FUTILITY_BASE = 112;
constexpr int FUTILITY_PER_DEPTH = 32;
constexpr int SEE_QUIET_DEPTH = 20;         // quiet moves: exchange test up to this predicted depth
constexpr int SEE_QUIET_HISTORY = 100000;   // ... unless their history sum reaches this
constexpr int PV_PRUNE_HISTORY = 60000;     // PV nodes prune quiet moves only below this history sum
// Exchange-test thresholds by predicted depth / 2.
constexpr int SEE_STEPS[11] = {0, -17, -65, -141, -242, -365, -506, -662, -830, -1007, -1189};

// ---- Statistics score of the move made (read by the child)
constexpr int STAT_SURE_MOVE = 4000;        // hash move, good captures
constexpr int STAT_DEFERRED_CAPTURE = -4000;

// ---- Late-move reductions
constexpr int LMR_MIN_DEPTH = 6;            // depth after the extension
constexpr int LMR_PV_NODE = 2;              // less at former PV nodes and PV nodes
constexpr int LMR_GOOD_CAPTURE = 4;
constexpr int LMR_CUT_SHALLOW = 11;         // cut nodes: +1 below this depth (or in check), else 2+
constexpr int LMR_CUT_DEEPER = 15;          // ... +1 more from here
constexpr int LMR_CUT_DEEPEST = 22;         // ... and +1 more from here
constexpr int LMR_MOVE_BONUS_DEPTH = 22;    // pawn pushes and refutation moves reduced less up to here
constexpr int LMR_STAT_DIVISOR = 3071;
constexpr int LMR_PARENT_STAT_DIVISOR = 6142;
constexpr int LMR_UNSAFE = 3;               // less for a move that may lose its piece
constexpr int LMR_HIGH_EVAL = 201;          // more when the static eval is at least this
constexpr int LMR_DEEP_RETRY_R = 8;         // a failed-high reduction of at least this ...
constexpr int LMR_DEEP_RETRY_DEPTH = 10;    // ... at this depth tries depth - LMR_DEEP_RETRY_CUT first
constexpr int LMR_DEEP_RETRY_CUT = 6;

// ---- Extensions
constexpr int EXTENSION = 2;                // one ply
constexpr int PAWN_ENDGAME_EXTENSION = 4;   // a capture into a pawn ending
constexpr int PASSED_EXT_MIN_DEPTH = 7;
constexpr int PASSED_EXT_MAX_DEPTH = 12;
constexpr int PASSED_EXT_PHASE = 25;        // ... below this phase
constexpr int SINGULAR_DEPTH = 12;          // singular extension deeper than this
constexpr int SINGULAR_TT_SLACK = 7;        // the table depth at least depth - slack
constexpr int SINGULAR_MAX_SCORE = 3899;
constexpr double SINGULAR_MARGIN_PER_DEPTH = 0.56;
constexpr int SINGULAR_MIN_MARGIN = 8;
constexpr int SINGULAR_CHECK_PLY = 50;      // not in check from this ply on
constexpr int CHECK_EXT_HASH_DEPTH = 12;    // a checking hash move is extended up to this depth
constexpr int CHECK_EXT_HISTORY = 96004;    // a checking quiet move with this history sum

// ---- Quiescence
constexpr int QS_EVAL_MARGIN = 164;         // non-PV evaluation window around alpha..beta
constexpr int QS_HOPELESS = 1400;           // stand pat this far below alpha: give up
constexpr int QS_DEPTH_LIMIT = -59;         // deeper than this: stand pat
constexpr int QS_FUTILITY_MARGIN = 50;      // stand pat + margin + capture gain must reach alpha
constexpr int QS_SEE_MARGIN = 40;           // below alpha by more: losing exchanges are pruned

}  // namespace quorix::sp
