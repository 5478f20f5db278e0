// Where `millresume SCRIPT --continue` goes on, read from journal texts.
#include <gtest/gtest.h>

#include <string>

#include "runner/run_journal.h"

namespace {

bool fake_hashes(const std::string& path, uint64_t& hash) {
  if (path == "job.nc")
    hash = 0x1111;
  else if (path == "holes.nc")
    hash = 0x2222;
  else if (path == "C:\\my jobs\\p.nc")
    hash = 0x3333;
  else
    return false;
  return true;
}

const std::string head =
    "millrun-journal 1\n"
    "script job.nc\n"
    "file 0000000000001111 job.nc\n";
const std::string holes_row = "file 0000000000002222 holes.nc\n";

struct choice_case {
  const char* name;
  std::string journal;
  bool ok;
  const char* file;  // the restart point's file (empty: the top-level script)
  int line;
  const char* why;  // a part of the reason given
};

TEST(RunJournal, ChoosesTheLineToContinueAtOrRefuses) {
  const choice_case cases[] = {
      {"line in flight, in an include",
       head + "start 1 0 0 8440 job.nc:3\ndone 1 0 0 8000 job.nc:3\n" + holes_row +
           "start 2 0 0 8000 holes.nc:2\n",
       true, "holes.nc", 2, "started but did not finish"},
      {"all finished: the line after the last",
       head + "start 1 0 0 8440 job.nc:3\ndone 1 0 0 8000 job.nc:3\n", true, "", 4,
       "the line after job.nc:3"},
      {"the first unfinished line stands",
       head + "start 1 0 0 8440 job.nc:3\nstart 1 0 0 8440 job.nc:4\ndone 1 5 0 8440 job.nc:4\n",
       true, "", 3, "did not finish"},
      {"a row cut short by the power failure",
       head + "start 1 0 0 8440 job.nc:3\ndone 1 0 0 8000 job.nc:3\nstart 1 0 0 8", true, "", 4,
       "the line after"},
      {"a resumed run cut before its first line", head + holes_row + "from 2 holes.nc:5\n", true,
       "holes.nc", 5, "took the job up"},
      {"a path with blanks and colons",
       head + "file 0000000000003333 C:\\my jobs\\p.nc\n" + "start 2 1 2 3 C:\\my jobs\\p.nc:7\n",
       true, "C:\\my jobs\\p.nc", 7, "did not finish"},
      {"another script", "millrun-journal 1\nscript other.nc\nstart 1 0 0 8440 other.nc:3\n", false,
       "", 0, "journal of other.nc, not of job.nc"},
      {"a file changed since",
       head + "file 0000000000009999 holes.nc\nstart 2 0 0 8000 holes.nc:2\n", false, "", 0,
       "holes.nc has changed"},
      {"a file gone since", head + "file 0000000000002222 gone.nc\n", false, "", 0,
       "gone.nc has changed"},
      {"a job that ran to its end",
       head + "start 1 0 0 8440 job.nc:3\ndone 1 0 0 8000 job.nc:3\nend\n", false, "", 0,
       "ran to its end"},
      {"nothing sent yet", head, false, "", 0, "no line sent"},
      {"not a journal", "G01 X1\n", false, "", 0, "not a journal"},
      {"a broken row", head + "start 1 x 0 8440 job.nc:3\ndone 1 0 0 8000 job.nc:3\n", false, "", 0,
       "RunJournal.txt:4: unreadable row"},
  };
  for (const choice_case& c : cases) {
    SCOPED_TRACE(c.name);
    const journal_choice choice = choose_continue_line(c.journal, "job.nc", fake_hashes);
    EXPECT_EQ(choice.ok, c.ok) << choice.why;
    EXPECT_NE(choice.why.find(c.why), std::string::npos) << choice.why;
    if (!c.ok) continue;
    EXPECT_EQ(choice.point.file, c.file);
    EXPECT_EQ(choice.point.line, c.line);
  }
}

}  // namespace
