#include "controller_model.h"

#include <gtest/gtest.h>

#include <limits>

#include "pty_server.h"

namespace {

using position = std::array<int64_t, 3>;

controller at(position p) {
  controller c;
  c.position = p;
  return c;
}

TEST(ControllerModel, MovesChangeThePositionAndAnswerX) {
  struct Case {
    const char* command;
    position after;
  };
  // Every case starts at x=10 y=20 z=30.
  const Case cases[] = {
      {"x_move_steps r 607", {617, 20, 30}},
      {"x_move_steps l 607", {-597, 20, 30}},
      {"y_move_steps t 303", {10, 323, 30}},
      {"y_move_steps b 21", {10, -1, 30}},
      {"z_move_steps u 5", {10, 20, 35}},
      {"z_move_steps d 440", {10, 20, -410}},
      {"x_move_steps r 0", {10, 20, 30}},
      {"x_move_steps r 007", {17, 20, 30}},
      {"x_move_steps r 4294967295", {10 + 4294967295LL, 20, 30}},
      {"xyz_linear_move_steps xy rt 607,303", {617, 323, 30}},
      {"xyz_linear_move_steps xz ld 1,2", {9, 20, 28}},
      {"xyz_linear_move_steps yz bu 3,4", {10, 17, 34}},
      {"xyz_linear_move_steps xyz lbd 10,20,30", {0, 0, 0}},
      {"xyz_linear_move_steps x r 5", {15, 20, 30}},
      {"xyz_linear_move_steps z u 0", {10, 20, 30}},
  };
  for (const Case& k : cases) {
    controller c = at({10, 20, 30});
    controller_reply r = handle_command(c, k.command);
    EXPECT_EQ(r.text, "X") << k.command;
    EXPECT_TRUE(r.send) << k.command;
    EXPECT_EQ(r.action, link_action::keep) << k.command;
    EXPECT_EQ(c.position, k.after) << k.command;
    EXPECT_EQ(c.command_count, 1u) << k.command;
  }
}

TEST(ControllerModel, MalformedCommandsAnswerEAndDoNotMove) {
  const std::string overlong = "x_move_steps r " + std::string(max_command_length, '1');
  const char* cases[] = {
      "x_move_steps t 5",  // Y's letter on X
      "y_move_steps r 5",  // X's letter on Y
      "z_move_steps l 5",
      "x_move_steps R 5",  // letters are lower case
      "X_MOVE_STEPS r 5",
      "x_move_steps rl 5",
      "x_move_steps r",      // missing count
      "x_move_steps r 5 6",  // extra field
      "x_move_steps  r 5",   // doubled blank
      "x_move_steps r 5 ",   // trailing blank
      " x_move_steps r 5",
      "x_move_steps\tr 5",
      "x_move_steps r -5",  // negative
      "x_move_steps r +5",
      "x_move_steps r 5.0",
      "x_move_steps r 0x10",
      "x_move_steps r 4294967296",  // beyond 32 bits
      "x_move_steps r 99999999999999999999999",
      "x_move r 5",                         // a shorter word of another command set
      "xyz_linear_move_steps yx tr 1,2",    // axes out of order
      "xyz_linear_move_steps xx rr 1,2",    // an axis twice
      "xyz_linear_move_steps xy r 1,2",     // too few directions
      "xyz_linear_move_steps xy rtu 1,2",   // too many directions
      "xyz_linear_move_steps xy rt 1",      // too few counts
      "xyz_linear_move_steps xy rt 1,2,3",  // too many counts
      "xyz_linear_move_steps xy rt 1,,2",
      "xyz_linear_move_steps xy rt 1, 2",
      "xyz_linear_move_steps xy tr 1,2",  // directions swapped between axes
      "xyz_linear_move_steps xy rt 1,-2",
      "xyz_linear_move_steps xyw rtu 1,2,3",
      "xyz_linear_move_steps  rt 1,2",
      "xyz_linear_move_steps xy rt",
      "xyz_home ",
      "x_home r",
      "x_home",
      "y_home t",
      "z_home d",
      "x_home l 0",
      "get_native_axis_scale",
      "get_native_axis_scale x",
      "get_native_axis_scale W",
      "get_native_axis_scale X Y",
      "set_milli_secs_per_step 5",
      "hello",
      overlong.c_str(),
  };
  for (const char* command : cases) {
    controller c = at({1, 2, 3});
    controller_reply r = handle_command(c, command);
    EXPECT_EQ(r.text, "E") << command;
    EXPECT_TRUE(r.send) << command;
    EXPECT_EQ(c.position, (position{1, 2, 3})) << command;
    EXPECT_EQ(c.command_count, 1u) << command;
  }
}

TEST(ControllerModel, PositionArithmeticRefusesToOverflow) {
  constexpr int64_t top = std::numeric_limits<int64_t>::max();
  constexpr int64_t bottom = std::numeric_limits<int64_t>::min();
  controller c = at({top - 5, 0, bottom + 5});
  EXPECT_EQ(handle_command(c, "x_move_steps r 6").text, "E");
  EXPECT_EQ(handle_command(c, "z_move_steps d 6").text, "E");
  // A linear move where only one axis would overflow moves no axis.
  EXPECT_EQ(handle_command(c, "xyz_linear_move_steps xyz rtu 6,1,1").text, "E");
  EXPECT_EQ(c.position, (position{top - 5, 0, bottom + 5}));
  EXPECT_EQ(handle_command(c, "x_move_steps r 5").text, "X");
  EXPECT_EQ(handle_command(c, "z_move_steps d 5").text, "X");
  EXPECT_EQ(c.position, (position{top, 0, bottom}));
}

TEST(ControllerModel, HomeCommandsZeroTheirAxisOnly) {
  struct Case {
    const char* command;
    position after;
  };
  const Case cases[] = {
      {"x_home l", {0, -20, 30}},
      {"y_home b", {10, 0, 30}},
      {"z_home u", {10, -20, 0}},
  };
  for (const Case& k : cases) {
    controller c = at({10, -20, 30});
    c.config.ms_per_step = 100;
    controller_reply r = handle_command(c, k.command);
    EXPECT_EQ(r.text, "0.000\"/1000") << k.command;
    EXPECT_EQ(r.delay_ms, 0u) << k.command;
    EXPECT_EQ(c.position, k.after) << k.command;
  }
}

TEST(ControllerModel, ScaleRepliesFromDefaultsScalesAndVerbatimTexts) {
  controller c;
  EXPECT_EQ(handle_command(c, "get_native_axis_scale X").text, "1024/1688\"/1000");
  EXPECT_EQ(handle_command(c, "get_native_axis_scale Y").text, "1024/1688\"/1000");
  EXPECT_EQ(handle_command(c, "get_native_axis_scale Z").text, "4000/1000\"/1000");

  std::string error;
  controller d;
  // The verbatim reply wins over the scale whichever comes first.
  ASSERT_TRUE(set_scale_reply(d.config, "y=  2048/1688\"/1000", error));
  ASSERT_TRUE(set_axis_scale(d.config, "Y=1/2", error));
  ASSERT_TRUE(set_axis_scale(d.config, "x=2048/1688", error));
  ASSERT_TRUE(set_axis_scale(d.config, "z=0/0", error));
  ASSERT_TRUE(set_scale_reply(d.config, "x=2048 /1688\"/1000", error));
  ASSERT_TRUE(set_axis_scale(d.config, "x=5/6", error));
  EXPECT_EQ(handle_command(d, "get_native_axis_scale X").text, "2048 /1688\"/1000");
  EXPECT_EQ(handle_command(d, "get_native_axis_scale Y").text, "  2048/1688\"/1000");
  EXPECT_EQ(handle_command(d, "get_native_axis_scale Z").text, "0/0\"/1000");
  EXPECT_EQ(d.position, (position{0, 0, 0}));
}

TEST(ControllerModel, BadConfigurationValuesAreRefusedAndChangeNothing) {
  using setter = bool (*)(controller_config&, std::string_view, std::string&);
  struct Case {
    setter set;
    const char* value;
  };
  const Case cases[] = {
      {set_axis_scale, "w=1/2"},  {set_axis_scale, "x:1/2"},
      {set_axis_scale, "x=12"},   {set_axis_scale, "x=1/"},
      {set_axis_scale, "x=/2"},   {set_axis_scale, "x=-1/2"},
      {set_axis_scale, "x=1/2x"}, {set_axis_scale, "x=4294967296/1"},
      {set_axis_scale, ""},       {set_scale_reply, "q=text"},
      {set_scale_reply, "x"},     {add_fault, "0:error"},
      {add_fault, "1:bogus"},     {add_fault, "1"},
      {add_fault, ":error"},      {add_fault, "-1:error"},
      {add_fault, "1:none"},      {add_fault, "x:error"},
      {set_line_end, "CRLF"},     {set_line_end, "lfcr"},
      {set_line_end, ""},
  };
  for (const Case& k : cases) {
    controller_config config;
    std::string error;
    EXPECT_FALSE(k.set(config, k.value, error)) << k.value;
    EXPECT_FALSE(error.empty()) << k.value;
    EXPECT_EQ(config.scale, controller_config{}.scale) << k.value;
    EXPECT_FALSE(config.scale_reply[0] || config.scale_reply[1] || config.scale_reply[2]);
    EXPECT_TRUE(config.faults.empty()) << k.value;
    EXPECT_EQ(config.line_end, "\r\n") << k.value;
  }
  controller_config config;
  std::string error;
  ASSERT_TRUE(add_fault(config, "3:slow", error));
  EXPECT_FALSE(add_fault(config, "3:error", error));
  EXPECT_EQ(config.faults.at(3), fault_kind::slow);
}

TEST(ControllerModel, EachFaultKindOnItsCommandNumber) {
  struct Case {
    const char* kind;
    bool executed;
    bool send;
    const char* bytes;  // everything written, with the default line end
    bool byte_by_byte;
    link_action action;
  };
  const Case cases[] = {
      {"error", false, true, "E\r\n", false, link_action::keep},
      {"empty", false, true, "\r\n", false, link_action::keep},
      {"garbage", false, true, "#?garbage?#\r\n", false, link_action::keep},
      {"noise", true, true, "X\r\nzz#noise\r\n", false, link_action::keep},
      {"slow", true, true, "X\r\n", true, link_action::keep},
      {"hangup", false, false, "", false, link_action::hang_up},
      {"vanish", false, false, "", false, link_action::vanish},
      {"silent", true, false, "", false, link_action::keep},
  };
  for (const Case& k : cases) {
    controller c;
    std::string error;
    ASSERT_TRUE(add_fault(c.config, std::string("2:") + k.kind, error)) << error;
    controller_reply first = handle_command(c, "x_move_steps r 5");
    EXPECT_EQ(reply_bytes(first), "X\r\n") << k.kind;
    EXPECT_EQ(first.fault, fault_kind::none) << k.kind;

    controller_reply second = handle_command(c, "x_move_steps r 7");
    EXPECT_STREQ(fault_name(second.fault), k.kind);
    EXPECT_EQ(c.position[0], k.executed ? 12 : 5) << k.kind;
    EXPECT_EQ(second.send, k.send) << k.kind;
    EXPECT_EQ(reply_bytes(second), k.bytes) << k.kind;
    EXPECT_EQ(second.byte_by_byte, k.byte_by_byte) << k.kind;
    EXPECT_EQ(second.action, k.action) << k.kind;

    controller_reply third = handle_command(c, "x_move_steps l 1");
    EXPECT_EQ(reply_bytes(third), "X\r\n") << k.kind;
    EXPECT_EQ(c.position[0], k.executed ? 11 : 4) << k.kind;
    EXPECT_EQ(c.command_count, 3u);
  }
}

TEST(ControllerModel, FaultsCountEveryNonEmptyLineIncludingHomesAndQueries) {
  controller c;
  std::string error;
  ASSERT_TRUE(add_fault(c.config, "3:error", error));
  ASSERT_TRUE(add_fault(c.config, "5:garbage", error));
  EXPECT_FALSE(handle_command(c, "").counted);
  EXPECT_FALSE(handle_command(c, "\r").counted);
  EXPECT_EQ(handle_command(c, "z_home u").text, "0.000\"/1000");      // 1
  EXPECT_EQ(handle_command(c, "nonsense").text, "E");                 // 2
  EXPECT_EQ(handle_command(c, "get_native_axis_scale X").text, "E");  // 3: fault
  EXPECT_EQ(handle_command(c, "").counted, false);
  EXPECT_EQ(handle_command(c, "x_move_steps r 1").text, "X");    // 4
  EXPECT_EQ(handle_command(c, "x_home l").text, "#?garbage?#");  // 5: fault, not homed
  EXPECT_EQ(c.position[0], 1);
  EXPECT_EQ(c.command_count, 5u);
}

TEST(ControllerModel, LineEndAppliesToEveryReply) {
  struct Case {
    const char* name;
    const char* move;
    const char* empty;
  };
  const Case cases[] = {
      {"crlf", "X\r\n", "\r\n"},
      {"lf", "X\n", "\n"},
      {"cr", "X\r", "\r"},
  };
  for (const Case& k : cases) {
    controller c;
    std::string error;
    ASSERT_TRUE(set_line_end(c.config, k.name, error));
    ASSERT_TRUE(add_fault(c.config, "2:empty", error));
    EXPECT_EQ(reply_bytes(handle_command(c, "y_move_steps t 1")), k.move) << k.name;
    EXPECT_EQ(reply_bytes(handle_command(c, "y_move_steps t 1")), k.empty) << k.name;
  }
}

TEST(ControllerModel, MovesTakeTimePerStepOfTheLongestAxis) {
  controller c;
  c.config.ms_per_step = 3;
  EXPECT_EQ(handle_command(c, "x_move_steps r 10").delay_ms, 30u);
  EXPECT_EQ(handle_command(c, "xyz_linear_move_steps xyz rbu 4,9,2").delay_ms, 27u);
  EXPECT_EQ(handle_command(c, "get_native_axis_scale X").delay_ms, 0u);
  EXPECT_EQ(handle_command(c, "x_move_steps q 10").delay_ms, 0u);
  c.config.ms_per_step = std::numeric_limits<uint32_t>::max();
  EXPECT_EQ(handle_command(c, "z_move_steps u 4294967295").delay_ms,
            uint64_t{4294967295u} * 4294967295u);
}

TEST(ControllerModel, TranscriptListsEveryCommandThenTheFinalPosition) {
  controller c;
  std::string error;
  ASSERT_TRUE(add_fault(c.config, "2:hangup", error));
  handle_command(c, "x_move_steps r 607\r");
  handle_command(c, "y_move_steps t 303");
  handle_command(c, "");
  handle_command(c, "bad  command");
  handle_command(c, "xyz_linear_move_steps yz bd 5,440");
  EXPECT_EQ(transcript_text(c),
            "cmd: x_move_steps r 607\n"
            "cmd: y_move_steps t 303\n"
            "cmd: bad  command\n"
            "cmd: xyz_linear_move_steps yz bd 5,440\n"
            "final: x=607 y=-5 z=-440\n");
  EXPECT_EQ(transcript_text(controller{}), "final: x=0 y=0 z=0\n");
}

TEST(LineSplitter, CutsAtCarriageReturnsAndLineFeedsAndDropsEmptyLines) {
  line_splitter s;
  const std::string pieces[] = {"x_move", "_steps r 1\n", "\r\n\n", "a\rb\r\nc", "", "\n\r"};
  for (const std::string& piece : pieces) split_input(s, piece.data(), piece.size());
  std::vector<std::string> lines;
  std::string line;
  while (take_line(s, line)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"x_move_steps r 1", "a", "b", "c"}));

  split_input(s, "half", 4);
  clear_input(s);
  split_input(s, "whole\n", 6);
  ASSERT_TRUE(take_line(s, line));
  EXPECT_EQ(line, "whole");
  EXPECT_FALSE(take_line(s, line));
}

TEST(LineSplitter, AnOverlongLineStaysOverlongAndIsRefused) {
  line_splitter s;
  // A valid command followed by blanks, far beyond the limit: the part kept
  // must not turn into a valid command.
  std::string text = "x_move_steps r 5" + std::string(100000, ' ') + "\nx_move_steps r 1\n";
  split_input(s, text.data(), text.size());
  std::string line;
  ASSERT_TRUE(take_line(s, line));
  EXPECT_EQ(line.size(), max_command_length + 1);
  controller c;
  EXPECT_EQ(handle_command(c, line).text, "E");
  ASSERT_TRUE(take_line(s, line));
  EXPECT_EQ(handle_command(c, line).text, "X");
  EXPECT_EQ(c.position[0], 1);
}

TEST(MillsimOptions, ReadsEveryOptionInBothForms) {
  millsim_options o;
  std::string error;
  const std::vector<std::string> args = {"--link",
                                         "/tmp/l",
                                         "--scale",
                                         "x=2048/1688",
                                         "--scale-reply=z=Q",
                                         "--ms-per-step=4",
                                         "--fault",
                                         "2:hangup",
                                         "--fault=7:noise",
                                         "--line-end",
                                         "lf",
                                         "--transcript",
                                         "t.txt"};
  ASSERT_EQ(parse_millsim_options(args, o, error), options_outcome::run) << error;
  EXPECT_EQ(o.link_path, "/tmp/l");
  EXPECT_EQ(o.transcript_path, "t.txt");
  EXPECT_EQ(o.controller.scale[0], "2048/1688");
  EXPECT_EQ(o.controller.scale_reply[2], "Q");
  EXPECT_EQ(o.controller.ms_per_step, 4u);
  EXPECT_EQ(o.controller.line_end, "\n");
  EXPECT_EQ(o.controller.faults,
            (std::map<uint64_t, fault_kind>{{2, fault_kind::hangup}, {7, fault_kind::noise}}));
  EXPECT_EQ(parse_millsim_options({"--scale", "x=1/2", "--help"}, o, error), options_outcome::help);
}

TEST(MillsimOptions, UsageErrorsNameTheOption) {
  struct Case {
    std::vector<std::string> args;
    const char* mentions;
  };
  const Case cases[] = {
      {{"--link"}, "--link"},
      {{"--link="}, "--link"},
      {{"--bogus"}, "--bogus"},
      {{"extra"}, "extra"},
      {{"--scale", "x=1"}, "--scale"},
      {{"--ms-per-step", "-1"}, "--ms-per-step"},
      {{"--ms-per-step", "fast"}, "--ms-per-step"},
      {{"--fault", "0:error"}, "--fault"},
      {{"--fault", "1:error", "--fault", "1:slow"}, "--fault"},
      {{"--line-end", "crlf", "--line-end", "both"}, "--line-end"},
  };
  for (const Case& k : cases) {
    millsim_options o;
    std::string error;
    EXPECT_EQ(parse_millsim_options(k.args, o, error), options_outcome::usage_error) << k.mentions;
    EXPECT_NE(error.find(k.mentions), std::string::npos) << error;
  }
}

}  // namespace
