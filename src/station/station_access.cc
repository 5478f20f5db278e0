#include "station/station_access.h"

#include <cctype>

namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

/// "[::1]" -> "::1"; other names unchanged.
std::string unbracket(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    return host.substr(1, host.size() - 2);
  return host;
}

}  // namespace

bool station_is_loopback(const std::string& host) {
  const std::string name = lower(unbracket(host));
  return name == "localhost" || name == "::1" || name.rfind("127.", 0) == 0;
}

bool station_host_allowed(const std::string& host_header, const std::string& listen_host,
                          int port) {
  std::string name = host_header;
  std::string port_text;
  const size_t bracket = name.rfind(']');
  const size_t colon = name.rfind(':');
  // A colon after the closing bracket (or, without brackets, the only colon)
  // starts the port; "::1" unbracketed is a name, never NAME:PORT.
  if (colon != std::string::npos &&
      (bracket != std::string::npos ? colon > bracket : name.find(':') == colon)) {
    port_text = name.substr(colon + 1);
    name.resize(colon);
  }
  name = lower(unbracket(name));
  if (name != lower(unbracket(listen_host)) && name != "localhost") return false;
  if (port_text.empty()) return port == 80;
  if (port_text.size() > 5) return false;
  for (char c : port_text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return std::stoi(port_text) == port;
}

std::string station_bearer_token(const std::string& authorization) {
  const std::string scheme = "bearer ";
  if (authorization.size() <= scheme.size() ||
      lower(authorization.substr(0, scheme.size())) != scheme)
    return "";
  size_t start = scheme.size();
  while (start < authorization.size() && authorization[start] == ' ') ++start;
  size_t end = authorization.size();
  while (end > start && authorization[end - 1] == ' ') --end;
  return authorization.substr(start, end - start);
}

bool station_token_matches(const std::string& token, const std::string& expected) {
  if (expected.empty()) return false;
  // Every byte of `expected` is compared, whatever `token` holds: the time
  // tells nothing of how much of a guess was right.
  unsigned difference = token.size() == expected.size() ? 0u : 1u;
  for (size_t i = 0; i < expected.size(); ++i) {
    const unsigned char guess = i < token.size() ? static_cast<unsigned char>(token[i]) : 0;
    difference |= guess ^ static_cast<unsigned char>(expected[i]);
  }
  return difference == 0;
}
