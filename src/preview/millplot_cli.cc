#include "preview/millplot_cli.h"

#include <cstdio>
#include <memory>

#include "common/message.h"
#include "preview/toolpath.h"
#include "preview/toolpath_svg.h"
#include "runner/script_reader.h"

const char* const millplot_usage =
    "Usage: millplot SCRIPT [-o FILE.svg]\n"
    "\n"
    "Draws the toolpath of a milling script as an SVG picture: the XY view with\n"
    "feed moves solid and rapid moves dashed, the depth in colour, the motion\n"
    "envelope with its extents in inches and steps, the home position, and a\n"
    "side view of Z against X.\n"
    "\n"
    "The script is translated as in a dry run, from the working directory (as\n"
    "millrun runs it): no KelCodeOutput.txt or EnvelopeReport.txt is written,\n"
    "dwells do not wait, and nothing is sent to a machine, even where the\n"
    "script opens a link. A script that stops at a line is drawn up to there.\n"
    "\n"
    "  -o FILE     write the picture to FILE (default: SCRIPT with .svg)\n"
    "  --help      show this text\n"
    "  --version   show the version\n"
    "\n"
    "Exit code 0 when the script ran to its end and the picture was written,\n"
    "1 otherwise, 2 on a usage error.\n";

millplot_options parse_millplot_arguments(int argc, const char* const* argv) {
  millplot_options options;
  bool options_end = false;
  bool output_given = false;
  std::string script;
  bool script_given = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!options_end) {
      if (arg == "--") {
        options_end = true;
        continue;
      }
      if (arg == "--help" || arg == "-h") {
        options.help = true;
        continue;
      }
      if (arg == "--version") {
        options.version = true;
        continue;
      }
      if (arg == "-o" || arg == "--output") {
        if (i + 1 >= argc) {
          options.error = arg + " needs a file name";
          return options;
        }
        if (output_given) {
          options.error = "only one -o FILE may be given";
          return options;
        }
        options.output = argv[++i];
        output_given = true;
        continue;
      }
      if (arg.size() > 1 && arg[0] == '-') {
        options.error = "unknown option " + arg + " (a script named so: -- " + arg + ")";
        return options;
      }
    }
    if (script_given) script += ' ';
    script += arg;
    script_given = true;
  }
  options.script = script;
  if (!options.help && !options.version) {
    if (!script_given || script.empty())
      options.error = "no script given";
    else if (output_given && options.output.empty())
      options.error = "-o needs a file name";
    else if (!output_given)
      options.output = default_svg_name(script);
  }
  return options;
}

std::string default_svg_name(const std::string& script) {
  size_t slash = script.find_last_of("/\\");
  size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = script.rfind('.');
  std::string stem = script;
  // A leading dot names a hidden file, not an extension.
  if (dot != std::string::npos && dot > name_start) stem = script.substr(0, dot);
  std::string name = stem + ".svg";
  if (name == script) name = script + ".svg";
  return name;
}

namespace {

void show_problem(const char* caption, const char* text_format, const std::string& name) {
  message_buffers& m = shared_message();
  format_text(m.caption, sizeof m.caption, "%s", caption);
  format_text(m.text, sizeof m.text, text_format, name.c_str());
  show_buffers(m);
}

/// A script that cannot be read, or an output that is the script itself,
/// is said so before anything runs: there is nothing to draw.
bool files_usable(const std::string& script, const std::string& svg_path) {
  // The reader's block is too large for the stack.
  const auto reader = std::make_unique<script_reader>();
  script_reader& probe = *reader;
  if (!open_script_reader(probe, script.c_str())) {
    show_problem("Cannot read the script", "The script \"%s\" cannot be opened.", script);
    return false;
  }
  close_script_reader(probe);
  if (svg_path == script) {
    show_problem("Output would overwrite the script",
                 "\"%s\" is the script itself; choose another -o FILE.", svg_path);
    return false;
  }
  return true;
}

}  // namespace

int run_millplot(const std::string& script, const std::string& svg_path, bool& written,
                 std::string* stopped_at) {
  written = false;
  if (!files_usable(script, svg_path)) return 1;

  toolpath path;
  bool ran = collect_toolpath(script.c_str(), path);
  if (stopped_at) *stopped_at = ran ? std::string() : path.stopped_at;

  std::FILE* out = std::fopen(svg_path.c_str(), "wb");
  written = out && write_toolpath_svg(path, out);
  if (out && std::fclose(out) != 0) written = false;
  if (!written) {
    show_problem("Cannot write the preview", "The picture could not be written to \"%s\".",
                 svg_path);
    return 1;
  }
  return ran ? 0 : 1;
}
