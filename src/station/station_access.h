// Who may use millstation's web server: the token every /api/ request
// carries, and, when it listens on loopback only, the Host a page must name
// (a foreign name is a page of another site rebinding its name to us).
#pragma once

#include <string>

/// True for an address only this machine reaches: 127.x.x.x, ::1, localhost.
bool station_is_loopback(const std::string& host);

/// True when the request's Host header (`host_header`, "NAME" or
/// "NAME:PORT", "[::1]:PORT") names the listen address or localhost, on the
/// bound port (no port only when the port is 80).
bool station_host_allowed(const std::string& host_header, const std::string& listen_host,
                          int port);

/// The token of "Bearer TOKEN" (scheme in any case); empty when the header
/// has another form.
std::string station_bearer_token(const std::string& authorization);

/// True when `token` equals `expected`, in a time that depends only on the
/// length of `expected`. An empty `expected` matches nothing.
bool station_token_matches(const std::string& token, const std::string& expected);
