#include "supervision/progress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/run_events.h"
#include "runner/script_interpreter.h"
#include "runner/script_reader.h"
#include "support/fake_terminal.h"
#include "support/observed_run.h"
#include "support/message_recorder.h"
#include "support/run_fixture.h"

namespace {

// The progress line draws on the recording terminal (support/fake_terminal.h),
// whose clock moves on by a fixed step at every reading.
recording_terminal& fake = recorded_terminal();

std::vector<std::string> kinds() {
  std::vector<std::string> k;
  for (const terminal_event& e : fake.events) k.push_back(e.kind);
  return k;
}

class Progress : public run_fixture {
 protected:
  void SetUp() override {
    run_fixture::SetUp();
    install_recording_terminal();
    set_dwells_wait(false);
  }
  void TearDown() override {
    unsubscribe_all();
    set_dwells_wait(true);
    run_fixture::TearDown();
  }
  bool run(const std::string& script) {
    dir_.write("job.nc", script);
    testing::internal::CaptureStdout();
    bool ok = run_script_file("job.nc", nullptr);
    testing::internal::GetCapturedStdout();
    observed_.finish(ok);
    return ok;
  }
  observed_run observed_;
  /// A job of `moves` feed moves back and forth along X after a header line.
  static std::string zig_zag(int moves) {
    std::string job = "G20\n";
    for (int i = 0; i < moves; ++i) job += i % 2 ? "G01 X0.5\n" : "G01 X1.0\n";
    return job;
  }
};

// ---------------------------------------------------------------------------
// The text of the status line.

TEST(StatusLine, FormsAndFits) {
  struct row {
    const char* name;
    progress_values values;
    int columns;
    const char* text;
  };
  const row rows[] = {
      // While the time left cannot be told; 1.5 s shows as 2.
      {"early",
       {5, 100, nullptr, 0, 0, 12, 0, 1500, -1.0},
       0,
       "Line 5 of 100, 12 commands, 0 recoveries, 0:00:02 elapsed, -:--:-- left"},
      {"singular",
       {11, 40, nullptr, 0, 0, 1, 1, 10000, 30000.0},
       0,
       "Line 11 of 40, 1 command, 1 recovery, 0:00:10 elapsed, 0:00:30 left"},
      {"include",
       {2, 2, "demo_holes.nc", 31, 60, 7, 2, 30000, 10000.0},
       0,
       "Line 2 of 2 (demo_holes.nc line 31 of 60), 7 commands, 2 recoveries, 0:00:30 elapsed, "
       "0:00:10 left"},
      // A terminal too narrow for the full form gets the short one, one
      // column to spare.
      {"narrow",
       {11, 40, nullptr, 0, 0, 3, 1, 10000, 30000.0},
       50,
       "11/40 3 cmd 1 rec 0:00:10 -0:00:30"},
      {"narrower still", {11, 40, nullptr, 0, 0, 3, 1, 10000, 30000.0}, 12, "11/40 3 cmd"},
      {"wide enough",
       {11, 40, nullptr, 0, 0, 3, 1, 10000, 30000.0},
       80,
       "Line 11 of 40, 3 commands, 1 recovery, 0:00:10 elapsed, 0:00:30 left"},
      // A long wait for a reply says what the run waits for, and after a
      // minute without a byte what may be wrong.
      {"waiting",
       {2, 3, nullptr, 0, 0, 1, 0, 20000, -1.0, "z_home u", 17900, 17900},
       0,
       "Line 2 of 3, waiting 17 s for the reply to z_home u"},
      {"silent a minute",
       {2, 3, nullptr, 0, 0, 1, 0, 80000, -1.0, "z_home u", 75000, 60000},
       0,
       "Line 2 of 3, waiting 75 s for the reply to z_home u: no answer; the controller may be "
       "off or the port wrong (Ctrl-C stops)"},
      {"waiting, narrow",
       {2, 3, nullptr, 0, 0, 1, 0, 80000, -1.0, "z_home u", 75000, 60000},
       60,
       "2/3 wait 75s z_home u: no answer? Ctrl-C stops"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    char out[512];
    size_t length = format_status_line(r.values, r.columns, out, sizeof out);
    EXPECT_EQ(std::string(out, length), r.text);
    EXPECT_EQ(std::strlen(out), length);
    if (r.columns > 0) {
      EXPECT_LT(length, static_cast<size_t>(r.columns));
    }
  }
}

TEST(StatusLine, SmallBufferIsCutAndTerminated) {
  progress_values v{123456, 999999, nullptr, 0, 0, 5, 0, 4000};
  char out[16];
  size_t length = format_status_line(v, 0, out, sizeof out);
  EXPECT_EQ(std::strlen(out), length);
  EXPECT_LT(length, sizeof out);
  EXPECT_EQ(std::string(out), "Line 123456 of ");
}

TEST(StatusLine, FractionOfTheJobDone) {
  struct row {
    progress_values values;
    double fraction;
  };
  const row rows[] = {
      {{1, 10, nullptr, 0, 0, 0, 0, 0}, 0.0},   // the first line has begun
      {{10, 10, nullptr, 0, 0, 0, 0, 0}, 0.9},  // the last line has begun
      {{3, 4, "a.nc", 1, 8, 0, 0, 0}, 0.5},     // an include has just begun
      {{3, 4, "a.nc", 5, 8, 0, 0, 0}, 0.625},   // and is half done
      {{3, 4, "a.nc", 5, 0, 0, 0, 0}, 0.5},     // an include of no lines
      {{0, 0, nullptr, 0, 0, 0, 0, 0}, 0.0},    // nothing counted
      {{50, 10, nullptr, 0, 0, 0, 0, 0}, 1.0},  // a file that grew
  };
  for (const row& r : rows) EXPECT_DOUBLE_EQ(progress_fraction(r.values), r.fraction);
}

TEST(StatusLine, TimeLeftFollowsThePaceOfTheLastWhile) {
  struct row {
    const char* name;
    std::vector<std::pair<uint64_t, double>> run;  // (ms, fraction) at each redraw
    double left_ms;                                // after the last; negative: unknown
  };
  // A redraw every 100 ms, the fraction a function of the time.
  auto steady = [](uint64_t until, double per_second, double start = 0.0) {
    std::vector<std::pair<uint64_t, double>> run;
    for (uint64_t t = 100; t <= until; t += 100)
      run.push_back({t, start + per_second * t / 1000.0});
    return run;
  };
  std::vector<std::pair<uint64_t, double>> stuck = steady(5000, 0.01);
  for (uint64_t t = 5100; t <= 20000; t += 100) stuck.push_back({t, 0.05});
  const row rows[] = {
      // 1 % a second: at 40 % after 40 s, 60 s to go.
      {"steady", steady(40000, 0.01), 60000.0},
      // A wrapper script: three lines of four done at once, the fourth, an
      // include, at 0.25 % a second: at 80 % after 20 s, 80 s to go (an
      // estimate from the start would say 5 s).
      {"wrapper", steady(20000, 0.0025, 0.75), 80000.0},
      {"too early", steady(1500, 0.01), -1.0},
      // Nothing has moved in the window: no guess.
      {"stuck", stuck, -1.0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    progress_pace pace;
    for (const auto& [t, f] : r.run) pace_note(pace, t, f);
    const auto& [t, f] = r.run.back();
    if (r.left_ms < 0.0)
      EXPECT_LT(pace_left_ms(pace, t, f), 0.0);
    else
      EXPECT_NEAR(pace_left_ms(pace, t, f), r.left_ms, r.left_ms * 1e-6);
  }
}

// ---------------------------------------------------------------------------
// The line count agrees with the interpreter's numbering: the failing last
// line of each file is reported at the number the count gives.

TEST_F(Progress, LineCountMatchesTheInterpretersNumbering) {
  const std::string blanks_2046(2046, ' ');
  const std::string blanks_5000(5000, ' ');
  const std::string scripts[] = {
      "G20\n// two\nG02\n",
      "// crlf\r\n// cr\rG02",          // a lone CR ends a line; no final line end
      "REM" + blanks_5000 + "\nG02\n",  // an over-long comment line counts once
      blanks_2046 + "\r\nG02\n",        // a CR LF after a full piece
      blanks_2046 + " \r\nG02\n",       // a line of exactly 2047 characters
      "\n\n\n\nG02\n",
  };
  for (const std::string& script : scripts) {
    SCOPED_TRACE(script.size());
    dir_.write("job.nc", script);
    message_recorder messages;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(run_script_file("job.nc", nullptr));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(messages.all().size(), 1u);
    const std::string where = "job.nc:" + std::to_string(count_script_lines("job.nc"));
    EXPECT_EQ(messages.all()[0].caption, "Unknown GCode @ " + where);
  }
  dir_.write("empty.nc", "");
  EXPECT_EQ(count_script_lines("empty.nc"), 0);
  EXPECT_EQ(count_script_lines("missing.nc"), 0);
}

TEST_F(Progress, LineCountAgreesWithTheReaderOnOddFiles) {
  // Files of line feeds, carriage returns and runs longer than a piece, at
  // random with a fixed seed, counted both ways.
  std::mt19937 random(20261208);
  static script_reader reader;
  char piece[2048];
  for (int round = 0; round < 150; ++round) {
    std::string text;
    const size_t size = random() % 9000;
    while (text.size() < size) {
      switch (random() % 8) {
        case 0:
          text += '\n';
          break;
        case 1:
          text += '\r';
          break;
        case 2:
          text += random() % 2 ? "\r\n" : "\r\r\n";
          break;
        case 3:
          text.append(random() % 4100, 'x');
          break;
        case 4:  // a CR at or around the last byte a piece can hold
          text += '\n';
          text.append(2045 + random() % 3, 'x');
          text += random() % 2 ? "\r\n" : "\r";
          break;
        default:
          text.append(random() % 40, 'x');
      }
    }
    dir_.write("odd.nc", text);
    ASSERT_TRUE(open_script_reader(reader, "odd.nc"));
    int64_t pieces = 0;
    while (read_script_line(reader, piece, sizeof piece) > 0) {
      skip_rest_of_script_line(reader);  // a long line is one line
      ++pieces;
    }
    close_script_reader(reader);
    ASSERT_EQ(count_script_lines("odd.nc"), pieces) << "round " << round;
  }
}

// ---------------------------------------------------------------------------
// The status line during a run.

TEST_F(Progress, LongWaitForAReplyIsShownUntilTheReplyComes) {
  observed_.start();
  emit_line_started({"job.nc", 1, 1, "G01 X1\n"});
  auto last_draw = [] {
    for (auto e = fake.events.rbegin(); e != fake.events.rend(); ++e)
      if (e->kind == "draw") return e->text;
    return std::string();
  };
  emit_reply_awaited({"z_home u", 1000, 1000});  // a moment: nothing shown
  EXPECT_EQ(last_draw().find("waiting"), std::string::npos) << last_draw();
  emit_reply_awaited({"z_home u", 17000, 17000});
  EXPECT_NE(last_draw().find(", waiting 17 s for the reply to z_home u"), std::string::npos)
      << last_draw();
  emit_reply_awaited({"z_home u", 61000, 61000});
  EXPECT_NE(last_draw().find("the controller may be off or the port wrong (Ctrl-C stops)"),
            std::string::npos)
      << last_draw();
  emit_reply_received({"z_home u", "\"/1000", true});
  fake.now += 1000;
  emit_command_issued({"x_home l", command_kind::home, 0});
  emit_line_finished({"job.nc", 1, 1, "G01 X1"}, true);
  emit_line_started({"job.nc", 1, 2, "G01 X2\n"});
  emit_dwell(0);  // draws at once
  EXPECT_EQ(last_draw().find("waiting"), std::string::npos) << last_draw();
  observed_.finish(true);
}

TEST_F(Progress, RedrawsAtMostTenTimesASecondAndClearsAtTheEnd) {
  fake.step = 7;  // every clock reading finds 7 ms more gone
  observed_.start();
  const int moves = 600;
  EXPECT_TRUE(run(zig_zag(moves)));

  std::vector<const terminal_event*> draws;
  for (const terminal_event& e : fake.events)
    if (e.kind == "draw") draws.push_back(&e);
  ASSERT_GE(draws.size(), 3u);
  for (size_t i = 1; i < draws.size(); ++i)
    EXPECT_GE(draws[i]->time - draws[i - 1]->time, 100u) << i;
  EXPECT_EQ(draws.front()->text.rfind("Line ", 0), 0u) << draws.front()->text;
  EXPECT_NE(draws.back()->text.find(" of 601,"), std::string::npos) << draws.back()->text;
  // The clock is not read for every line.
  EXPECT_LT(fake.clock_reads, moves);

  // The end: the line is erased, then the dry run's estimate follows.
  const std::vector<std::string> k = kinds();
  ASSERT_GE(k.size(), 2u);
  EXPECT_EQ(k[k.size() - 2], "erase");
  EXPECT_EQ(k.back(), "line");
  EXPECT_EQ(fake.events.back().text.rfind("Estimated machine time: ", 0), 0u);
}

TEST_F(Progress, CommandsAndLinesReachedAreShown) {
  fake.step = 150;  // every reading may redraw
  observed_.start();
  // A dwell redraws at once, before its wait: here on the last line.
  EXPECT_TRUE(
      run("G20\nG01 X1.0\nG01 X2.0\nG01 X3.0\nG01 X4.0\nG01 X5.0\nG01 X6.0\nG01 X7.0\n"
          "G04 P0\n"));
  std::string last;
  for (const terminal_event& e : fake.events)
    if (e.kind == "draw") last = e.text;
  // The homing's three commands count as sent, with the seven moves.
  EXPECT_EQ(last.rfind("Line 9 of 9, 10 commands, 0 recoveries", 0), 0u) << last;
}

TEST_F(Progress, NoTerminalNoStatusLine) {
  fake.possible = false;
  fake.step = 150;
  observed_.start();
  EXPECT_TRUE(run(zig_zag(50)));
  EXPECT_EQ(kinds(), std::vector<std::string>{"line"});
  // The first homing (no travel: where the machine stood is not known), X
  // out to 607 steps and then 49 moves of 304 steps between X 0.5" (303
  // steps) and X 1" (607): 15503 steps, 155.03 s, and 51 + 50 x 22 bytes on
  // the wire, 1.2 s: 2:36.23.
  EXPECT_EQ(fake.events[0].text, "Estimated machine time: 0:02:36 (h:mm:ss)\n");
  observed_.progress.clear_line();
  EXPECT_EQ(kinds(), std::vector<std::string>{"line"});
}

TEST_F(Progress, ClearingErasesOnceUntilTheNextRedraw) {
  fake.step = 150;
  observed_.start();
  observed_.progress.clear_line();  // nothing shown yet
  EXPECT_TRUE(fake.events.empty());
  dir_.write("job.nc", zig_zag(10));
  testing::internal::CaptureStdout();
  EXPECT_TRUE(run_script_file("job.nc", nullptr));
  testing::internal::GetCapturedStdout();
  ASSERT_FALSE(fake.events.empty());
  EXPECT_EQ(fake.events.back().kind, "draw");
  observed_.progress.clear_line();
  observed_.progress.clear_line();
  EXPECT_EQ(kinds().back(), "erase");
  EXPECT_EQ(kinds()[kinds().size() - 2], "draw");
}

TEST_F(Progress, FailedRunClearsTheLineAndPrintsNoEstimate) {
  fake.step = 150;
  observed_.start();
  message_recorder messages;
  EXPECT_FALSE(run("G20\nG01 X1.0\nG02 X1 Y1\n"));
  EXPECT_EQ(messages.all().size(), 1u);
  const std::vector<std::string> k = kinds();
  ASSERT_FALSE(k.empty());
  EXPECT_EQ(k.back(), "erase");
}

TEST_F(Progress, IncludedFileShowsItsOwnLines) {
  fake.step = 150;
  observed_.start();
  dir_.write("holes.nc", "G01 Y0.5\nG01 Y0.6\nG01 Y0.7\n");
  EXPECT_TRUE(run("G20\ninclude holes.nc\nG01 X1.0\n"));
  bool seen = false;
  for (const terminal_event& e : fake.events)
    if (e.text.rfind("Line 2 of 3 (holes.nc line ", 0) == 0) seen = true;
  EXPECT_TRUE(seen);
}

}  // namespace
