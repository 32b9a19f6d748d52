#include "parallel/progress.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace corvale {
namespace {

TEST(ProgressLine, FormatAndWidth) {
  std::string l = progress_line(0, 14, "collect");
  EXPECT_EQ(l.size(), 100u);
  EXPECT_EQ(l.substr(0, 42), "  [------------------------]   0%  collect");
  std::string half = progress_line(7, 14, "x");
  EXPECT_EQ(half.substr(0, 35), "  [############------------]  50%  ");
}

TEST(ProgressLine, DoneBeyondTotalShowsFullBar) {
  std::string l = progress_line(20, 14, "over");
  EXPECT_EQ(l.substr(0, 35), "  [########################] 100%  ");
}

TEST(ProgressLine, ZeroTotalCountsAsOne) {
  EXPECT_EQ(progress_line(0, 0, "z").substr(29, 5), "  0% ");
}

TEST(ProgressLine, LongLabelIsCutToWidth) {
  std::string l = progress_line(1, 2, std::string(200, 'x'));
  EXPECT_EQ(l.size(), 100u);
  EXPECT_EQ(l.back(), 'x');
  // A multi-byte label is never cut inside a character.
  std::string cjk;
  for (int i = 0; i < 40; ++i) cjk += "\xE4\xB8\xAD";
  std::string c = progress_line(1, 2, cjk);
  EXPECT_EQ(c.size(), 100u);
  EXPECT_NE(c.find("\xE4\xB8\xAD "), std::string::npos);
}

// On a narrow terminal the label is cut so the line never wraps (a wrapped
// line is redrawn below itself and stacks up); on a wide one it keeps 100.
TEST(ProgressLine, FitsTheTerminal) {
  struct Case {
    size_t columns, width;
    std::string head;
  } cases[] = {
      {0, 100, "  [#"},  // not a terminal: the fixed width
      {80, 79, "  [#"},
      {200, 100, "  [#"},
      {40, 39, "  [############------------]  50%  b"},
      {20, 19, "  [############----"},
      {1, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.columns);
    size_t width = progress_width(c.columns);
    EXPECT_EQ(width, c.width);
    std::string l = progress_line(1, 2, "building topology", width);
    EXPECT_EQ(l.size(), c.width);
    EXPECT_TRUE(l.starts_with(c.head)) << l;
  }
}

TEST(ProgressLine, EndOfRunStaysBelowFull) {
  // The driver ticks twice against a starting total of 14.
  EXPECT_EQ(progress_line(2 + 40, 14 + 40, "x").substr(29, 4), " 77%");
}

TEST(TimingLine, Format) {
  EXPECT_EQ(timing_line("collect", 0, 0),
            "  [timing] collect                          0 ms   (total       0 ms)\n");
  EXPECT_EQ(timing_line("graph-build", 1234, 98765),
            "  [timing] graph-build                   1234 ms   (total   98765 ms)\n");
}

TEST(Banner, Text) {
  EXPECT_EQ(banner_text("3. DNS servers"),
            "\n==============================\n  3. DNS servers\n"
            "==============================\n");
}

// The tick path with drawing off: counts, never draws.
TEST(Progress, DisabledTicksCountWithoutDrawing) {
  progress_init(false);
  ProgressState* s = progress_state();
  ASSERT_NE(s, nullptr);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  s->fd = fds[1];
  size_t before = s->done.load();
  progress_tick("a");
  progress_tick("b");
  progress_finish();
  EXPECT_EQ(s->done.load(), before + 2);
  close(fds[1]);
  char buf[8];
  EXPECT_EQ(read(fds[0], buf, sizeof buf), 0);  // nothing was written
  close(fds[0]);
  s->fd = 2;
}

// An interrupt clears the line from its own thread while workers may still
// tick: once cleared, nothing draws it again, and a second clear is silent.
TEST(Progress, NothingDrawsAfterTheLineIsCleared) {
  progress_init(true);
  ProgressState* s = progress_state();
  ASSERT_NE(s, nullptr);
  s->enabled = true;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  s->fd = fds[1];
  progress_tick("before");
  progress_finish();
  progress_tick("after");
  progress_finish();
  close(fds[1]);
  std::string got;
  char buf[512];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  s->fd = 2;
  EXPECT_EQ(got, "\r" + progress_line(1, kInitialProgressTotal, "before") + "\r" +
                     std::string(kProgressWidth, ' ') + "\r");
}

}  // namespace
}  // namespace corvale
