#include "pty_server.h"

#include <cstdio>
#include <fstream>

#include "pty.h"

const char millsim_usage[] =
    "Usage: millsim [OPTION]...\n"
    "\n"
    "Simulates the milling machine's controller on a pseudo-terminal. Prints the\n"
    "terminal's device path and a newline on standard output, then answers the\n"
    "controller's commands on it until SIGTERM or SIGINT, and exits 0.\n"
    "\n"
    "  --link PATH          make PATH a symbolic link to the terminal; it follows\n"
    "                       the terminal across hang-ups and is removed at exit\n"
    "  --scale A=NUM/DEN    the native scale of axis A (x, y or z); defaults\n"
    "                       x=1024/1688 y=1024/1688 z=4000/1000\n"
    "  --scale-reply A=TEXT the whole reply to get_native_axis_scale for axis A,\n"
    "                       verbatim (overrides --scale)\n"
    "  --ms-per-step N      a move takes N ms per step of its longest axis (0)\n"
    "  --fault N:KIND       misbehave on the N-th command received (from 1,\n"
    "                       counting every non-empty line); repeatable. KIND:\n"
    "                         error    not executed, reply \"E\"\n"
    "                         empty    not executed, reply an empty line\n"
    "                         garbage  not executed, reply \"#?garbage?#\"\n"
    "                         noise    executed, noise bytes follow the reply\n"
    "                         slow     executed, reply sent a byte per 30 ms\n"
    "                         silent   executed, never answered\n"
    "                         hangup   not executed; the terminal hangs up and a\n"
    "                                  new one replaces it behind --link\n"
    "                         vanish   not executed; the terminal hangs up and\n"
    "                                  the link is removed\n"
    "  --line-end crlf|lf|cr  the reply terminator (crlf)\n"
    "  --transcript FILE    at exit, write every command received as \"cmd: TEXT\"\n"
    "                       and a last line \"final: x=N y=N z=N\" (steps from home)\n"
    "  --help               show this text\n"
    "  --version            show the version\n"
    "\n"
    "Exit codes: 0 after a stop signal, 1 on a failure, 2 on a usage error.\n";

namespace {

enum class option_id { link, scale, scale_reply, ms_per_step, fault, line_end, transcript };

const struct {
  const char* name;
  option_id id;
} option_names[] = {
    {"--link", option_id::link},
    {"--scale", option_id::scale},
    {"--scale-reply", option_id::scale_reply},
    {"--ms-per-step", option_id::ms_per_step},
    {"--fault", option_id::fault},
    {"--line-end", option_id::line_end},
    {"--transcript", option_id::transcript},
};

bool apply_option(option_id id, const std::string& value, millsim_options& options,
                  std::string& error) {
  controller_config& config = options.controller;
  switch (id) {
    case option_id::link:
    case option_id::transcript:
      if (value.empty()) {
        error = "needs a path";
        return false;
      }
      (id == option_id::link ? options.link_path : options.transcript_path) = value;
      return true;
    case option_id::scale:
      return set_axis_scale(config, value, error);
    case option_id::scale_reply:
      return set_scale_reply(config, value, error);
    case option_id::fault:
      return add_fault(config, value, error);
    case option_id::line_end:
      return set_line_end(config, value, error);
    case option_id::ms_per_step:
      if (!parse_count(value, config.ms_per_step)) {
        error = "expected a number of milliseconds, got \"" + value + "\"";
        return false;
      }
      return true;
  }
  return false;
}

// What serving one line led to.
enum class served { go_on, stop, failed };

struct server {
  controller model;
  std::string link_path;
  pseudo_terminal term;
  bool serving = false;   // false once the terminal has vanished
  std::string linked_to;  // the device the link points at, if any
  line_splitter input;
};

bool send_reply(server& s, const controller_reply& reply, served& outcome) {
  std::string bytes = reply_bytes(reply);
  if (bytes.empty()) return true;
  if (!reply.byte_by_byte) {
    write_outcome w = pty_write_all(s.term, bytes.data(), bytes.size());
    outcome = w == write_outcome::done   ? served::go_on
              : w == write_outcome::stop ? served::stop
                                         : served::failed;
    return w == write_outcome::done;
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && !pty_pause_ms(slow_reply_gap_ms)) {
      outcome = served::stop;
      return false;
    }
    write_outcome w = pty_write_all(s.term, &bytes[i], 1);
    if (w != write_outcome::done) {
      outcome = w == write_outcome::stop ? served::stop : served::failed;
      return false;
    }
  }
  return true;
}

// The hang-up fault: the new terminal is ready and the link points at it
// before the old one closes, so a client that reacts to the hang-up by
// re-opening the link always finds the new device.
void replace_terminal(server& s) {
  pseudo_terminal fresh;
  std::string error;
  if (!pty_open(fresh, error)) {
    std::fprintf(stderr, "millsim: after the hang-up, %s; nothing is served any more\n",
                 error.c_str());
    if (!s.link_path.empty()) remove_link(s.link_path, s.linked_to);
    pty_close(s.term);
    s.serving = false;
    return;
  }
  if (!s.link_path.empty()) {
    if (point_link(s.link_path, fresh.device_path, error)) {
      s.linked_to = fresh.device_path;
    } else {
      std::fprintf(stderr, "millsim: %s\n", error.c_str());
    }
  }
  pty_close(s.term);
  s.term = fresh;
}

void vanish(server& s) {
  if (!s.link_path.empty()) remove_link(s.link_path, s.linked_to);
  s.linked_to.clear();
  pty_close(s.term);
  s.serving = false;
}

served serve_line(server& s, const std::string& line) {
  controller_reply reply = handle_command(s.model, line);
  if (!reply.counted) return served::go_on;
  if (reply.delay_ms > 0 && !pty_pause_ms(reply.delay_ms)) return served::stop;
  switch (reply.action) {
    case link_action::hang_up:
      clear_input(s.input);  // what was pending on the old terminal is gone with it
      replace_terminal(s);
      return served::go_on;
    case link_action::vanish:
      clear_input(s.input);
      vanish(s);
      return served::go_on;
    case link_action::keep:
      break;
  }
  served outcome = served::go_on;
  send_reply(s, reply, outcome);
  return outcome;
}

// Reads what is pending and serves every complete line in it.
served serve_input(server& s) {
  char buffer[4096];
  long got = pty_read(s.term, buffer, sizeof buffer);
  if (got < 0) return served::failed;
  split_input(s.input, buffer, static_cast<size_t>(got));
  std::string line;
  while (s.serving && take_line(s.input, line)) {
    served outcome = serve_line(s, line);
    if (outcome != served::go_on) return outcome;
  }
  return served::go_on;
}

bool write_transcript(const std::string& path, const controller& model) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << transcript_text(model);
  out.close();
  if (!out) {
    std::fprintf(stderr, "millsim: cannot write the transcript %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

options_outcome parse_millsim_options(const std::vector<std::string>& args,
                                      millsim_options& options, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") return options_outcome::help;
    if (arg == "--version") return options_outcome::version;
    std::string name = arg, value;
    bool inline_value = false;
    if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inline_value = true;
    }
    bool known = false;
    for (const auto& option : option_names) {
      if (name != option.name) continue;
      known = true;
      if (!inline_value) {
        if (i + 1 >= args.size()) {
          error = name + " needs a value";
          return options_outcome::usage_error;
        }
        value = args[++i];
      }
      std::string why;
      if (!apply_option(option.id, value, options, why)) {
        error = name + ": " + why;
        return options_outcome::usage_error;
      }
      break;
    }
    if (!known) {
      error = "unknown argument \"" + arg + "\"";
      return options_outcome::usage_error;
    }
  }
  return options_outcome::run;
}

int run_millsim(const millsim_options& options) {
  std::string error;
  if (!install_stop_signals(error)) {
    std::fprintf(stderr, "millsim: %s\n", error.c_str());
    return 1;
  }
  server s;
  s.model.config = options.controller;
  s.link_path = options.link_path;
  if (!pty_open(s.term, error)) {
    std::fprintf(stderr, "millsim: %s\n", error.c_str());
    return 1;
  }
  s.serving = true;
  if (!s.link_path.empty()) {
    if (!point_link(s.link_path, s.term.device_path, error)) {
      std::fprintf(stderr, "millsim: %s\n", error.c_str());
      pty_close(s.term);
      return 1;
    }
    s.linked_to = s.term.device_path;
  }
  // The device path is the sign that the simulator is ready: the link
  // exists before it is printed.
  std::printf("%s\n", s.term.device_path.c_str());
  std::fflush(stdout);

  served outcome = served::go_on;
  while (outcome == served::go_on) {
    switch (pty_wait_input(s.serving ? &s.term : nullptr)) {
      case wait_outcome::stop:
        outcome = served::stop;
        break;
      case wait_outcome::failed:
        outcome = served::failed;
        break;
      case wait_outcome::input:
        outcome = serve_input(s);
        break;
    }
  }
  if (outcome == served::failed)
    std::fprintf(stderr, "millsim: the pseudo-terminal %s failed; stopping\n",
                 s.term.device_path.c_str());

  bool written =
      options.transcript_path.empty() || write_transcript(options.transcript_path, s.model);
  if (!s.link_path.empty() && !s.linked_to.empty()) remove_link(s.link_path, s.linked_to);
  pty_close(s.term);
  return outcome == served::stop && written ? 0 : 1;
}
