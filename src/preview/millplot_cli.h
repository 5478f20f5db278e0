// millplot's command line: its options, its usage text, and the program
// after its options (collect the toolpath, write the picture).
#pragma once

#include <string>

struct millplot_options {
  std::string script;
  std::string output;  // empty: default_svg_name(script)
  bool help = false;
  bool version = false;
  std::string error;  // a usage error to show, else empty
};

/// Reads millplot's arguments: "-o FILE" (or "--output FILE") anywhere, and
/// the rest, joined with one blank each, as the script path, as millrun
/// takes it. "--" ends the options.
millplot_options parse_millplot_arguments(int argc, const char* const* argv);

extern const char* const millplot_usage;

/// The default output of a script: its name with the extension replaced by
/// ".svg" (added where it has none), beside it. A script that is itself
/// called *.svg gets ".svg" appended, so that it is never overwritten.
std::string default_svg_name(const std::string& script);

/// The whole of millplot after its options: collects and writes `svg_path`;
/// `written` tells whether the picture was written. 0 when the script ran to
/// its end and the picture was written, else 1 (a failing script is still
/// drawn up to where it stopped). Problems are shown as messages.
/// `stopped_at`, when given, receives "file:line" of the line the run
/// stopped at (empty when it ran to its end or never started).
int run_millplot(const std::string& script, const std::string& svg_path, bool& written,
                 std::string* stopped_at = nullptr);
