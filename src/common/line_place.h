// Where a script line stands: its file, its number and its text, as the
// messages and events about it name it.
#pragma once

/// A line's place. `path` is the file as the include line (or the command
/// line) names it; a re-run after a recovery is "RESUME_OPS", line -1.
/// `text` is the line as messages show it; the record only points at it, so
/// it shows the line as it stands when the message is made.
struct line_place {
  const char* path;
  int line_number;
  const char* text;
};
