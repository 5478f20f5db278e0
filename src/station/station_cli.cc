#include "station/station_cli.h"

#include <cstdio>

#include "platform/platform.h"

const char* const millstation_usage =
    "Usage: millstation SCRIPT [--listen HOST:PORT] [--token TOKEN] [--linger SECONDS]\n"
    "\n"
    "Runs a milling script as millrun runs it (the same trace, messages, files\n"
    "and exit code) and serves a web page that shows the job and pauses,\n"
    "continues or stops it. Before the first command the whole job is checked\n"
    "as millcheck checks it: a job with a refused line or a missing include is\n"
    "not started; its problems are listed, each as FILE:LINE, and the exit code\n"
    "is 1. M0 and M1 after the first move pause the run until Continue.\n"
    "\n"
    "First prints one line: millstation: http://HOST:PORT/?token=TOKEN\n"
    "\n"
    "  --listen HOST:PORT  where the page is served (127.0.0.1:8080); port 0\n"
    "                      takes any free port; 0.0.0.0:8080 serves the network\n"
    "  --token TOKEN       the access token (letters, digits, - . _ ~); else the\n"
    "                      environment variable MILLSTATION_TOKEN, else 128\n"
    "                      random bits\n"
    "  --linger SECONDS    keep serving the final state this long after the run\n"
    "                      (0; at most 86400)\n"
    "  --help              show this text\n"
    "  --version           show the version\n"
    "\n"
    "Exit code 0 when the script ran to its end, 1 otherwise, 2 for a usage\n"
    "error or an address that cannot be bound (nothing is run then).\n";

namespace {

/// Digits only, at most `max`: false otherwise.
bool read_count(const std::string& text, int max, int& value) {
  if (text.empty() || text.size() > 9) return false;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n > max) return false;
  value = n;
  return true;
}

/// Takes the option `arg` and its value (after "=" or the next argument).
/// False, with `o.error` set, on a usage error.
bool take_option(const std::string& arg, int argc, const char* const* argv, int& i,
                 millstation_command& o, bool (&given)[3]) {
  const size_t equals = arg.find('=');
  const std::string name = arg.substr(0, equals);
  const bool has_value = equals != std::string::npos;
  if (name == "--help" || name == "-h" || name == "--version") {
    if (has_value) o.error = name + " takes no value";
    (name == "--version" ? o.version : o.help) = true;
    return !has_value;
  }
  const char* const names[] = {"--listen", "--token", "--linger"};
  int which = -1;
  for (int n = 0; n < 3; ++n)
    if (name == names[n]) which = n;
  if (which < 0) {
    o.error = "unknown option " + arg + " (a script named so: -- " + arg + ")";
    return false;
  }
  if (given[which]) {
    o.error = name + " may be given once";
    return false;
  }
  given[which] = true;
  if (!has_value && i + 1 >= argc) {
    o.error = name + (which == 0   ? " needs HOST:PORT"
                      : which == 1 ? " needs a token"
                                   : " needs SECONDS");
    return false;
  }
  const std::string value = has_value ? arg.substr(equals + 1) : std::string(argv[++i]);
  std::string error;
  if (which == 0 && !read_listen_address(value, o, error)) o.error = "--listen: " + error;
  if (which == 1 && !station_token_usable(value))
    o.error = "--token: 1 to 256 letters, digits, \"-\", \".\", \"_\" or \"~\"";
  if (which == 1) o.token = value;
  if (which == 2 && !read_count(value, max_linger_s, o.linger_s))
    o.error = "--linger: whole seconds from 0 to 86400, not \"" + value + "\"";
  return o.error.empty();
}

}  // namespace

bool read_listen_address(const std::string& text, millstation_command& command,
                         std::string& error) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    error = "HOST:PORT, not \"" + text + "\"";
    return false;
  }
  std::string host = text.substr(0, colon);
  std::string url_host = host;
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  else if (host.find(':') != std::string::npos) {
    error = "an IPv6 address goes in brackets: [" + host + "]:PORT";
    return false;
  }
  if (host.empty()) {
    error = "no host in \"" + text + "\" (127.0.0.1:PORT, or 0.0.0.0:PORT for the network)";
    return false;
  }
  for (char c : host)
    if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '[' || c == ']' || c == '@') {
      error = "\"" + host + "\" is no host name or address";
      return false;
    }
  int port = 0;
  if (!read_count(text.substr(colon + 1), 65535, port)) {
    error = "the port is a number from 0 to 65535, not \"" + text.substr(colon + 1) + "\"";
    return false;
  }
  command.host = host;
  command.url_host = url_host;
  command.port = port;
  return true;
}

bool station_token_usable(const std::string& token) {
  if (token.empty() || token.size() > 256) return false;
  for (char c : token) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (!plain) return false;
  }
  return true;
}

std::string station_random_token() {
  unsigned char bits[16];
  if (!platform_random_bytes(bits, sizeof bits)) return "";
  char hex[sizeof bits * 2 + 1];
  for (size_t i = 0; i < sizeof bits; ++i) std::snprintf(hex + 2 * i, 3, "%02x", bits[i]);
  return hex;
}

millstation_command parse_millstation_arguments(int argc, const char* const* argv) {
  millstation_command command;
  bool options_end = false;
  bool script_given = false;
  bool given[3] = {false, false, false};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_end && arg == "--") {
      options_end = true;
      continue;
    }
    // A lone "-" is a name, as the shell passes it.
    if (!options_end && arg.size() > 1 && arg[0] == '-') {
      if (!take_option(arg, argc, argv, i, command, given)) return command;
      continue;
    }
    if (script_given) command.script += ' ';
    command.script += arg;
    script_given = true;
  }
  if (!command.help && !command.version && command.script.empty())
    command.error = "no script given";
  return command;
}
