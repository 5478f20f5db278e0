// The output side of a conversion: the parts of the job (one file each
// with --split-tools, else one), the run of feed moves not yet written, and
// the moves themselves. Everything that is not a merged feed move writes
// what the run holds first, so that the output keeps the input's order.
#pragma once

#include "convert/converter.h"

/// Opens the next part (unless only measuring) and writes its header: the
/// job's millrun keywords, G20, G90. False with `state.failure` set when the
/// file cannot be opened.
bool begin_part(convert_state& state);

/// Flushes and closes the part's file; false when it could not be written.
bool end_part(convert_state& state);

/// Begins the first part when none is open.
bool ensure_part(convert_state& state);

/// A tool change or program stop noted between moves: refused without
/// --split-tools, else the part ends and a new one begins.
bool take_pending_break(convert_state& state);

/// Whether the open part holds a move (written, or in the open run).
bool part_has_moved(const convert_state& state);

/// Writes the held words of a break (its stop or tool change) as comment
/// lines, and forgets them.
void write_break_words(convert_state& state);

/// The first cut of a part names its tool in the part's header.
void note_cut(convert_state& state);

/// Writes the run of merged feed moves, when one is open.
void flush_run(convert_state& state);

/// Flushes the run and makes sure a part is open: the step before any
/// output line that is not a merged feed move.
bool before_output(convert_state& state);

/// Keeps the largest distance between the written and the input path.
void note_deviation(convert_state& state, double deviation);

/// Widens the extent that --fit places (the least X and Y of the job).
void note_fit_extent(convert_state& state, const point3& to);

/// Writes one motion line to `p` (job inches) without merging.
void write_point(convert_state& state, bool rapid, const point3& p, long first, long last);

/// One move of the job to `to` (job inches): a rapid, or a feed move that
/// joins the open run when it stays within the tolerance. Home moves are
/// left out of the extent that --fit places.
bool emit_move(convert_state& state, bool rapid, const point3& to, long number,
               bool home_move = false);
