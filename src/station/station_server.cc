#include "station/station_server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>

#include "platform/listen_socket.h"
#include "station/station_access.h"
#include "station/station_events.h"
#include "station/station_page.h"

namespace {

// Enough workers for many pages at once: each open event stream holds one.
constexpr size_t worker_count = 32;
// The controls carry no body; a request larger than this is refused.
constexpr size_t payload_limit = 4096;

struct server_record {
  std::unique_ptr<httplib::Server> http;
  std::thread listener;
  std::atomic<bool> stopping{false};
  station_hub* hub = nullptr;
  station_server_options options;
  std::string toolpath_svg;
  int port = 0;
  bool loopback = false;
};

server_record the_server;

void reset(server_record& server) {
  server.http.reset();
  server.stopping = false;
  server.hub = nullptr;
  server.options = station_server_options{};
  server.toolpath_svg.clear();
  server.port = 0;
  server.loopback = false;
}

void answer_json(httplib::Response& res, int code, const std::string& json) {
  res.status = code;
  res.set_header("Cache-Control", "no-store");
  res.set_content(json, "application/json");
}

/// The token a request carries: a GET may carry it in the query, the
/// controls only in the Authorization header (a form on another site can
/// put a query in its action, never a header).
std::string request_token(const httplib::Request& req) {
  const std::string bearer = station_bearer_token(req.get_header_value("Authorization"));
  if (!bearer.empty() || req.method == "POST") return bearer;
  return req.get_param_value("token");
}

/// Every request passes here first: the Host check against rebinding, then
/// the token for /api/.
void control(station_request what, httplib::Response& res) {
  const bool accepted = the_server.hub->request(what);
  answer_json(res, accepted ? 200 : 409, station_status_json(the_server.hub->snapshot()));
}

/// The three controls, by path.
const std::pair<const char*, station_request> controls[] = {
    {"/api/pause", station_request::pause},
    {"/api/continue", station_request::resume},
    {"/api/stop", station_request::stop},
};

httplib::Server::HandlerResponse check_access(const httplib::Request& req,
                                              httplib::Response& res) {
  const server_record& server = the_server;
  if (server.loopback &&
      !station_host_allowed(req.get_header_value("Host"), server.options.host, server.port)) {
    res.status = 403;
    res.set_content("This server answers only to its own address.\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  }
  if (req.path.rfind("/api/", 0) == 0 &&
      !station_token_matches(request_token(req), server.options.token)) {
    res.status = 401;
    res.set_header("WWW-Authenticate", "Bearer");
    res.set_content("A valid token is required.\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  }
  // A control posted without a body and without a Content-Length (`curl -X
  // POST`) carries no body, but the library would answer 400 for want of
  // the length: such a control is answered here.
  if (req.method == "POST" && !req.has_header("Content-Length") &&
      !req.has_header("Transfer-Encoding")) {
    for (const auto& [path, what] : controls)
      if (req.path == path) {
        control(what, res);
        return httplib::Server::HandlerResponse::Handled;
      }
  }
  return httplib::Server::HandlerResponse::Unhandled;
}

void serve_events(const httplib::Request& req, httplib::Response& res) {
  uint64_t last_event_id = 0;
  const std::string last = req.get_header_value("Last-Event-ID");
  if (!last.empty() && last.size() < 20 && last.find_first_not_of("0123456789") == std::string::npos)
    last_event_id = std::stoull(last);
  auto stream = std::make_shared<station_stream>(station_stream_open(last_event_id));
  res.set_header("Cache-Control", "no-store");
  res.set_chunked_content_provider(
      "text/event-stream", [stream](size_t, httplib::DataSink& sink) {
        // On a stop, one last step still sends what is pending (the end
        // of a job that has just finished), then the stream closes.
        const bool stopping = the_server.stopping;
        std::string out;
        const bool more = station_stream_step(*the_server.hub, *stream, out) && !stopping;
        if (!out.empty() && !sink.write(out.data(), out.size())) return false;
        if (!more) sink.done();
        return true;
      });
}

void add_routes(httplib::Server& http) {
  http.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                   "connect-src 'self'; img-src 'self' data:; base-uri 'none'; "
                   "form-action 'none'; frame-ancestors 'none'");
    res.set_content(station_page_html(), "text/html; charset=utf-8");
  });
  http.Get("/api/status", [](const httplib::Request&, httplib::Response& res) {
    answer_json(res, 200, station_status_json(the_server.hub->snapshot()));
  });
  http.Get("/api/events", serve_events);
  http.Get("/api/toolpath", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(the_server.toolpath_svg, "image/svg+xml");
  });
  for (const auto& [path, what] : controls) {
    const station_request request = what;
    http.Post(path, [request](const httplib::Request&, httplib::Response& res) {
      control(request, res);
    });
  }
}

}  // namespace

bool station_server_start(station_hub& hub, const station_server_options& options,
                          std::string toolpath_svg, std::string& error) {
  server_record& server = the_server;
  if (server.http) {
    error = "the web server is already running";
    return false;
  }
  if (options.token.empty()) {
    error = "the web server needs a token";
    return false;
  }
  if (options.port < 0 || options.port > 65535) {
    error = "the port " + std::to_string(options.port) + " is not between 0 and 65535";
    return false;
  }
  reset(server);
  server.hub = &hub;
  server.options = options;
  server.toolpath_svg = std::move(toolpath_svg);
  server.loopback = station_is_loopback(options.host);
  server.http = std::make_unique<httplib::Server>();
  httplib::Server& http = *server.http;
  http.new_task_queue = [] { return new httplib::ThreadPool(worker_count); };
  http.set_payload_max_length(payload_limit);
  http.set_read_timeout(5, 0);
  http.set_write_timeout(5, 0);
  http.set_keep_alive_timeout(2);
  http.set_socket_options([](socket_t socket) {
    platform_exclusive_listen(static_cast<std::uintptr_t>(socket));
  });
  http.set_pre_routing_handler(check_access);
  add_routes(http);

  // "[::1]" as an address is "::1" to the resolver.
  std::string address = options.host;
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
    address = address.substr(1, address.size() - 2);
  const bool bound = options.port == 0
                         ? (server.port = http.bind_to_any_port(address)) > 0
                         : http.bind_to_port(address, options.port);
  if (!bound) {
    error = "cannot listen on " + options.host + ":" + std::to_string(options.port) +
            " (the port is taken or not allowed, or the address is not this machine's)";
    reset(server);
    return false;
  }
  if (options.port != 0) server.port = options.port;
  server.listener = std::thread([&http] { http.listen_after_bind(); });
  // The library's stop() does nothing until its loop has begun: a stop that
  // came sooner (a job refused at once) would leave that loop in accept()
  // for good. So the server counts as started once the loop runs.
  for (int waited_ms = 0; !http.is_running() && waited_ms < 5000; ++waited_ms)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

int station_server_port() { return the_server.port; }

void station_server_stop() {
  server_record& server = the_server;
  if (!server.http) return;
  server.stopping = true;
  server.http->stop();
  if (server.listener.joinable()) server.listener.join();
  reset(server);
}
