#include "link/command_exchange.h"

#include <gtest/gtest.h>

#include "support/fake_device.h"
#include "support/message_recorder.h"

#include <string>
#include <vector>

#include "common/run_events.h"

namespace {

const match_pattern move_reply{"X", true, true};
const match_pattern home_reply{"\"/1000", false, true};

struct exchange_case {
  const char* name;
  std::string reply;    // what the controller sends back
  bool expected;        // send_and_validate's result
  std::string trace;    // standard output
  std::string caption;  // the message shown, if any
};

class ExchangeTable : public testing::TestWithParam<exchange_case> {};

TEST_P(ExchangeTable, OneCommandOneReply) {
  const exchange_case& c = GetParam();
  message_recorder messages;
  fake_device dev([&](const std::string&) { return c.reply; });
  testing::internal::CaptureStdout();
  bool ok = send_and_validate("x_move_steps r 607", move_reply, &dev);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(ok, c.expected);
  EXPECT_EQ(out, c.trace);
  // The command goes out as its own bytes and one line feed, once.
  EXPECT_EQ(dev.wire, "x_move_steps r 607\n");
  if (c.caption.empty()) {
    EXPECT_TRUE(messages.all().empty());
  } else {
    ASSERT_EQ(messages.all().size(), 1u);
    EXPECT_EQ(messages.all()[0].caption, c.caption);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ExchangeTable,
    testing::Values(
        exchange_case{"x_crlf", "X\r\n", true, "RESP: X\n", ""},
        exchange_case{"lower_x", "x\n", true, "RESP: x\n", ""},
        exchange_case{"x_cr", "X\r", true, "RESP: X\n", ""},
        exchange_case{"error", "E\n", false, "ERR: E\n", ""},
        exchange_case{"x_blank", "X \n", false, "ERR: X \n", ""},
        exchange_case{"ok_x", "OK X\n", false, "ERR: OK X\n", ""},
        exchange_case{"only_lf", "\n", false, "", "CNC Machine Response: No Response!"},
        exchange_case{"only_cr", "\r", false, "", "CNC Machine Response: No Response!"},
        exchange_case{"device_gone", "", false, "", "CNC Machine Response: No Response!"},
        exchange_case{"gone_mid_reply", "XX", false, "", "CNC Machine Response: No Response!"},
        // A zero byte ends the matched text; the rest of that line is dropped.
        exchange_case{"zero_byte", std::string("X\0junk\r\n", 8), true, "RESP: X\n", ""}),
    [](const testing::TestParamInfo<exchange_case>& info) { return std::string(info.param.name); });

TEST(CommandExchange, NullHandleAcceptsWithoutAnyOutput) {
  message_recorder messages;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(send_and_validate("x_move_steps r 607", move_reply, nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(messages.all().empty());
}

TEST(CommandExchange, PendingInputIsDrainedBeforeTheCommand) {
  fake_device dev(healthy_controller);
  dev.push_input("\nnoise X\r\n");  // a late terminator and noise
  testing::internal::CaptureStdout();
  EXPECT_TRUE(send_and_validate("x_move_steps r 1", move_reply, &dev));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "RESP: X\n");
  // The line feed after the reply's carriage return stays pending until the
  // next command's drain.
  EXPECT_EQ(dev.pending(), 1u);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(send_and_validate("x_move_steps r 1", move_reply, &dev));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "RESP: X\n");
}

TEST(CommandExchange, RejectedReplyIsNotResent) {
  fake_device dev([](const std::string&) { return "E\n"; });
  testing::internal::CaptureStdout();
  EXPECT_FALSE(send_and_validate("z_move_steps d 440", move_reply, &dev));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(dev.commands.size(), 1u);
}

TEST(CommandExchange, PartialWriteFailsWithTheWriteMessage) {
  message_recorder messages;
  fake_device dev(healthy_controller);
  dev.short_writes(5);
  EXPECT_FALSE(send_and_validate("x_move_steps r 607", move_reply, &dev));
  ASSERT_EQ(messages.all().size(), 1u);
  EXPECT_EQ(messages.all()[0].caption, "Failed to write to COMM Port");
  EXPECT_EQ(messages.all()[0].text,
            "An error occurred while trying to send command \"x_move_steps r 607\".");
  // After a failed command write the line feed is not sent.
  ASSERT_EQ(dev.writes.size(), 1u);
}

TEST(CommandExchange, FailedWriteIsReported) {
  message_recorder messages;
  fake_device dev(healthy_controller);
  dev.fail_writes(true);
  EXPECT_FALSE(send_command("x_home l", &dev));
  EXPECT_EQ(messages.captions(), std::vector<std::string>{"Failed to write to COMM Port"});
}

TEST(CommandExchange, NoResponseNamesTheCommand) {
  message_recorder messages;
  fake_device dev([](const std::string&) { return "\r\n"; });
  EXPECT_FALSE(send_and_validate("y_home b", home_reply, &dev));
  ASSERT_EQ(messages.all().size(), 1u);
  EXPECT_EQ(messages.all()[0].text, "No response was received, to command \"y_home b\".");
}

TEST(CommandExchange, LongReplyIsCutAndRejectedButReadToItsEnd) {
  // 64 KiB of reply are kept: a reply of that length that matches is
  // accepted whole; one byte more and it is cut there and rejected, though
  // its last bytes match. The next reply is read in step either way.
  const size_t kept = 64 * 1024;
  const std::string ending = "\"/1000";
  for (size_t length : {kept, kept + 1, size_t{100000}}) {
    SCOPED_TRACE(length);
    const std::string reply = std::string(length - ending.size(), 'a') + ending;
    int n = 0;
    fake_device dev([&](const std::string&) { return ++n == 1 ? reply + "\r\n" : "X\r\n"; });
    testing::internal::CaptureStdout();
    bool accepted = false;
    ASSERT_TRUE(send_command("z_home u", &dev));
    reply_line line = read_response_line(&dev, home_reply, accepted);
    const bool next = send_and_validate("x_move_steps r 1", move_reply, &dev);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_NE(line, nullptr);
    const bool whole = length <= kept;
    EXPECT_EQ(accepted, whole);
    EXPECT_EQ(std::string(line), reply.substr(0, kept));
    EXPECT_EQ(out, (whole ? "RESP: " : "ERR: ") + reply.substr(0, kept) + "\nRESP: X\n");
    EXPECT_TRUE(next);
    release_reply(line);
  }
}

}  // namespace

namespace {

TEST(CommandExchange, LateLineFeedOfTheLastReplyIsNotAnEmptyReply) {
  // The controller ends its replies with CR LF; the LF arrives after the
  // next command's drain, right before that command's reply.
  int n = 0;
  fake_device dev([&](const std::string&) { return ++n == 1 ? "X\r" : "\nX\r"; });
  message_recorder messages;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(send_and_validate("x_move_steps r 1", move_reply, &dev));
  EXPECT_TRUE(send_and_validate("x_move_steps r 2", move_reply, &dev));
  EXPECT_TRUE(send_and_validate("x_move_steps r 3", move_reply, &dev));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "RESP: X\nRESP: X\nRESP: X\n");
  EXPECT_TRUE(messages.all().empty());
}

TEST(CommandExchange, LoneLineFeedAfterALineFeedEndedReplyIsNoReply) {
  int n = 0;
  fake_device dev([&](const std::string&) { return ++n == 1 ? "X\n" : "\n"; });
  message_recorder messages;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(send_and_validate("x_move_steps r 1", move_reply, &dev));
  EXPECT_FALSE(send_and_validate("x_move_steps r 2", move_reply, &dev));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(messages.captions(), std::vector<std::string>{"CNC Machine Response: No Response!"});
}

}  // namespace

namespace {

/// A controller slow to answer: each timed wait passes without a byte
/// `silent_waits` times, then the reply arrives. Untimed waits are counted.
class slow_device final : public device {
 public:
  explicit slow_device(int silent_waits) : silent_(silent_waits) {}
  read_status read_pending_byte(unsigned char&) override { return read_status::nothing; }
  read_status wait_byte(unsigned char& byte) override {
    ++untimed_waits;
    return next(byte);
  }
  read_status wait_byte_for(unsigned char& byte, uint32_t) override {
    if (silent_ > 0) {
      --silent_;
      return read_status::nothing;
    }
    return next(byte);
  }
  bool write(const char*, size_t length, size_t& written) override {
    written = length;
    return true;
  }
  bool apply_line_settings(const line_settings&) override { return true; }
  int untimed_waits = 0;

 private:
  read_status next(unsigned char& byte) {
    if (reply_.empty()) return read_status::gone;
    byte = static_cast<unsigned char>(reply_.front());
    reply_.erase(0, 1);
    return read_status::byte;
  }
  int silent_;
  std::string reply_ = "X\r";
};

struct wait_recorder : run_observer {
  bool shows_waits() const override { return true; }
  std::vector<std::string> commands;
  std::vector<uint64_t> waited;
  void reply_awaited(const wait_event& e) override {
    commands.push_back(e.command);
    waited.push_back(e.waited_ms);
  }
};

}  // namespace

TEST(CommandExchange, LongWaitIsToldOnlyWhileAnObserverShowsIt) {
  const match_pattern& accept_x = move_reply;
  // Unwatched (or watched by one that shows no waits), the wait is one
  // untimed wait per byte, as it always was.
  run_observer deaf;
  ASSERT_TRUE(subscribe(&deaf));
  slow_device quiet(3);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(send_and_validate("z_home u", accept_x, &quiet));
  EXPECT_EQ(quiet.untimed_waits, 2);

  // Watched, it wakes to tell how long it has lasted, and goes on waiting.
  wait_recorder recorder;
  ASSERT_TRUE(subscribe(&recorder));
  slow_device slow(3);
  EXPECT_TRUE(send_and_validate("z_home u", accept_x, &slow));
  testing::internal::GetCapturedStdout();
  unsubscribe_all();
  EXPECT_EQ(slow.untimed_waits, 0);
  EXPECT_EQ(recorder.commands, std::vector<std::string>(3, "z_home u"));
  for (size_t i = 1; i < recorder.waited.size(); ++i)
    EXPECT_GE(recorder.waited[i], recorder.waited[i - 1]);
}
