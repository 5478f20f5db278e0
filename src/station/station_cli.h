// millstation's command line: SCRIPT and the options of its web page, read
// into one record; the usage text; the access token.
#pragma once

#include <string>

struct millstation_command {
  bool help = false;
  bool version = false;
  std::string error;  // a usage error to show, else empty
  std::string script;
  /// --listen HOST:PORT. `host` as the server binds it ("::1"); `url_host`
  /// as a URL names it ("[::1]").
  std::string host = "127.0.0.1";
  std::string url_host = "127.0.0.1";
  int port = 8080;    // 0: any free port
  std::string token;  // --token; empty: MILLSTATION_TOKEN, else a random one
  int linger_s = 0;   // --linger: seconds the final state is still served
};

/// A usage error, an address that cannot be bound, a token that cannot be
/// made: nothing is run.
constexpr int millstation_usage_exit_code = 2;

/// The longest --linger: a day.
constexpr int max_linger_s = 86400;

/// Reads the arguments: --listen HOST:PORT, --token TOKEN, --linger
/// SECONDS (each also as --name=VALUE, at most once), --help, --version,
/// "--" (ends the options), then SCRIPT: the words left, joined with one
/// blank each, as millrun takes its script path.
millstation_command parse_millstation_arguments(int argc, const char* const* argv);

/// Reads "HOST:PORT" ("[::1]:8080" for an IPv6 address). False, with
/// `error` set, for anything else; the command is then untouched.
bool read_listen_address(const std::string& text, millstation_command& command, std::string& error);

/// Whether `token` can stand in the URL as it is printed: 1 to 256 of the
/// characters A-Z, a-z, 0-9, "-", ".", "_", "~".
bool station_token_usable(const std::string& token);

/// 128 random bits as 32 lowercase hex digits; empty when the system's
/// random source fails.
std::string station_random_token();

extern const char* const millstation_usage;
