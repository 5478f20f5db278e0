// millstation's web server on loopback, driven through its hub alone (no
// run): who may ask what, the status as JSON, the controls' refusals, the
// event stream and its end, many pages at once.
#include <gtest/gtest.h>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "station/station_access.h"
#include "station/station_events.h"
#include "station/station_server.h"

namespace {

const std::string token = "0123456789abcdef0123456789abcdef";
const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 10 10\"/>";

/// Reads one event stream in its own thread; waits are bounded.
class event_reader {
 public:
  event_reader(int port, const std::string& path) {
    thread_ = std::thread([this, port, path] {
      httplib::Client client("127.0.0.1", port);
      client.set_read_timeout(10, 0);
      client.Get(path, [this](const char* data, size_t size) {
        std::lock_guard<std::mutex> hold(lock_);
        text_.append(data, size);
        changed_.notify_all();
        return true;
      });
      std::lock_guard<std::mutex> hold(lock_);
      closed_ = true;
      changed_.notify_all();
    });
  }
  ~event_reader() { thread_.join(); }
  /// True once the stream holds `part` (within 10 s).
  bool wait_for(const std::string& part) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(10), [&] {
      return text_.find(part) != std::string::npos;
    });
  }
  /// True once the server has closed the stream (within 10 s).
  bool wait_closed() {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(10), [&] { return closed_; });
  }
  std::string text() {
    std::lock_guard<std::mutex> hold(lock_);
    return text_;
  }

 private:
  std::thread thread_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::string text_;
  bool closed_ = false;
};

class StationServer : public ::testing::Test {
 protected:
  void SetUp() override {
    station_server_options options;
    options.port = 0;
    options.token = token;
    std::string error;
    ASSERT_TRUE(station_server_start(hub, options, svg, error)) << error;
    port = station_server_port();
    ASSERT_GT(port, 0);
  }
  void TearDown() override {
    station_server_stop();
    platform_clear_stop();  // a POST /api/stop asks the process to stop, as Ctrl-C does
  }

  httplib::Result get(const std::string& path, const httplib::Headers& headers = {}) {
    httplib::Client client("127.0.0.1", port);
    return client.Get(path, headers);
  }
  httplib::Result post(const std::string& path, const httplib::Headers& headers) {
    httplib::Client client("127.0.0.1", port);
    return client.Post(path, headers, "", "text/plain");
  }
  /// A control posted as `curl -X POST` posts it: no body, no Content-Length;
  /// the answer's status code (0 when none came).
  int post_without_length(const std::string& path) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      const std::string request = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                  std::to_string(port) + "\r\nAuthorization: Bearer " + token +
                                  "\r\nConnection: close\r\n\r\n";
      if (send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
        char buffer[512];
        for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
      }
    }
    if (fd >= 0) close(fd);
    return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : 0;
  }
  httplib::Headers bearer(const std::string& value = token) {
    return {{"Authorization", "Bearer " + value}};
  }

  station_hub hub;
  int port = 0;
};

TEST_F(StationServer, EachAccessRuleHolds) {
  struct access_case {
    const char* rule;
    bool is_post;
    std::string path;
    httplib::Headers headers;
    int code;
  };
  const std::string own_host = "127.0.0.1:" + std::to_string(port);
  const std::vector<access_case> cases = {
      {"no token", false, "/api/status", {}, 401},
      {"wrong token", false, "/api/status?token=" + token.substr(1) + "0", {}, 401},
      {"wrong bearer", false, "/api/toolpath", bearer("x" + token.substr(1)), 401},
      {"a control takes no token from its query", true, "/api/pause?token=" + token, {}, 401},
      {"foreign Host", false, "/api/status?token=" + token, {{"Host", "evil.example:" +
                                                               std::to_string(port)}}, 403},
      {"foreign Host, page", false, "/", {{"Host", "evil.example"}}, 403},
      {"own Host by name", false, "/api/status?token=" + token,
       {{"Host", "localhost:" + std::to_string(port)}}, 200},
      {"GET with the query token", false, "/api/toolpath?token=" + token, {}, 200},
      {"GET with the bearer token", false, "/api/status", bearer(), 200},
      {"page without token", false, "/", {{"Host", own_host}}, 200},
      {"no other file", false, "/index.html", {}, 404},
      {"no other API", false, "/api/run?token=" + token, {}, 404},
  };
  for (const access_case& c : cases) {
    const httplib::Result result = c.is_post ? post(c.path, c.headers) : get(c.path, c.headers);
    ASSERT_TRUE(result) << c.rule;
    EXPECT_EQ(result->status, c.code) << c.rule;
    EXPECT_FALSE(result->has_header("Access-Control-Allow-Origin")) << c.rule;
  }
  EXPECT_EQ(get("/api/toolpath?token=" + token)->body, svg);
}

TEST(StationAccess, HostHeadersAndTokens) {
  struct host_case {
    const char* header;
    const char* listen;
    int port;
    bool allowed;
  };
  const host_case hosts[] = {
      {"127.0.0.1:8080", "127.0.0.1", 8080, true},  {"LOCALHOST:8080", "127.0.0.1", 8080, true},
      {"127.0.0.1:8081", "127.0.0.1", 8080, false}, {"127.0.0.1", "127.0.0.1", 8080, false},
      {"localhost", "127.0.0.1", 80, true},         {"[::1]:9000", "::1", 9000, true},
      {"::1", "::1", 80, true},                     {"127.0.0.1:80x", "127.0.0.1", 80, false},
      {"attacker.example:8080", "127.0.0.1", 8080, false}, {"", "127.0.0.1", 8080, false},
  };
  for (const host_case& c : hosts)
    EXPECT_EQ(station_host_allowed(c.header, c.listen, c.port), c.allowed) << c.header;
  EXPECT_TRUE(station_token_matches("abc", "abc"));
  EXPECT_FALSE(station_token_matches("abcd", "abc"));
  EXPECT_FALSE(station_token_matches("ab", "abc"));
  EXPECT_FALSE(station_token_matches("", ""));
  EXPECT_EQ(station_bearer_token("bearer  abc "), "abc");
  EXPECT_EQ(station_bearer_token("Basic abc"), "");
}

TEST(StationEvents, LineBreaksStayInsideTheData) {
  // A message holding a line break must not end its event or forge another.
  EXPECT_EQ(station_event("message", "a\r\nevent: end\ndata: x", 7),
            "id: 7\nevent: message\ndata: a\ndata: event: end\ndata: data: x\n\n");
}

TEST_F(StationServer, StatusCarriesEveryField) {
  hub.set_job(120, 90000.0);
  hub.add_message("Note: first");
  hub.add_message("Note: second");
  const httplib::Result result = get("/api/status", bearer());
  ASSERT_TRUE(result);
  EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
  const nlohmann::json status = nlohmann::json::parse(result->body, nullptr, false);
  ASSERT_FALSE(status.is_discarded()) << result->body;
  for (const char* field : {"state", "file", "line", "text", "commands", "commands_total",
                            "position", "elapsed_s", "remaining_s", "recoveries",
                            "last_recovery", "messages", "ended", "exit_code"})
    EXPECT_TRUE(status.contains(field)) << field;
  EXPECT_EQ(status["state"], "homing");
  EXPECT_EQ(status["commands_total"], 120);
  EXPECT_DOUBLE_EQ(status["remaining_s"].get<double>(), 90.0);
  EXPECT_EQ(status["position"], (nlohmann::json{{"x", 0}, {"y", 0}, {"z", 0}}));
  EXPECT_EQ(status["messages"], (nlohmann::json{"Note: second", "Note: first"}));
  EXPECT_TRUE(status["exit_code"].is_null());
}

TEST_F(StationServer, ControlsRefusedByTheStateAnswer409) {
  struct step {
    const char* path;
    int code;
    bool bare;  // posted as `curl -X POST` posts it: no body, no Content-Length
  };
  const step steps[] = {{"/api/continue", 409, false}, {"/api/pause", 200, true},
                        {"/api/pause", 409, false},    {"/api/continue", 200, false},
                        {"/api/pause", 200, false},    {"/api/continue", 200, true},
                        {"/api/stop", 200, false},     {"/api/stop", 409, true}};
  for (const step& s : steps) {
    if (s.bare) {
      EXPECT_EQ(post_without_length(s.path), s.code) << s.path;
      continue;
    }
    const httplib::Result result = post(s.path, bearer());
    ASSERT_TRUE(result) << s.path;
    EXPECT_EQ(result->status, s.code) << s.path;
    EXPECT_TRUE(nlohmann::json::parse(result->body, nullptr, false).contains("state")) << s.path;
  }
}

TEST_F(StationServer, PageCarriesEveryId) {
  const httplib::Result result = get("/");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->get_header_value("Content-Type"), "text/html; charset=utf-8");
  for (const char* id : {"state", "line", "progress", "remaining", "recoveries", "toolpath",
                         "messages", "pause", "continue", "stop"})
    EXPECT_NE(result->body.find("id=\"" + std::string(id) + "\""), std::string::npos) << id;
  EXPECT_NE(result->body.find("<progress id=\"progress\""), std::string::npos);
  // Nothing from elsewhere: no address of another site in the page.
  EXPECT_EQ(result->body.find("http://"), result->body.find("http://www.w3.org/2000/svg"));
  EXPECT_EQ(result->body.find("https://"), std::string::npos);
}

TEST_F(StationServer, EventsFollowTheHubUntilTheEnd) {
  event_reader events(port, "/api/events?token=" + token);
  ASSERT_TRUE(events.wait_for("event: status"));
  hub.add_message("Recovered: the link came back");
  ASSERT_TRUE(events.wait_for("id: 1\nevent: message\ndata: Recovered: the link came back\n"));
  hub.finish(3);
  ASSERT_TRUE(events.wait_closed());
  const std::string text = events.text();
  EXPECT_NE(text.find("\"ended\":true"), std::string::npos);
  const std::string end = "event: end\ndata: {\"exit_code\":3,\"state\":\"" +
                          std::string(station_state_name(hub.snapshot().state)) + "\"}\n\n";
  EXPECT_NE(text.find(end), std::string::npos) << text;
}

TEST_F(StationServer, ManyPagesAtOnceGetTheEndWhenTheServerStops) {
  std::vector<std::unique_ptr<event_reader>> pages;
  for (int i = 0; i < 9; ++i)
    pages.push_back(std::make_unique<event_reader>(port, "/api/events?token=" + token));
  for (auto& page : pages) ASSERT_TRUE(page->wait_for("event: status"));
  const httplib::Result status = get("/api/status", bearer());
  ASSERT_TRUE(status);
  EXPECT_EQ(status->status, 200);
  // The job ends and the server stops at once (no linger): every page
  // still gets the end.
  hub.finish(0);
  station_server_stop();
  for (auto& page : pages) {
    EXPECT_TRUE(page->wait_closed());
    EXPECT_NE(page->text().find("event: end\n"), std::string::npos);
  }
}

TEST(StationServerBind, TakenPortIsRefused) {
  httplib::Server other;
  const int taken = other.bind_to_any_port("127.0.0.1");
  ASSERT_GT(taken, 0);
  station_hub hub;
  station_server_options options;
  options.port = taken;
  options.token = token;
  std::string error;
  EXPECT_FALSE(station_server_start(hub, options, svg, error));
  EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(taken)), std::string::npos)
      << error;
}

}  // namespace
