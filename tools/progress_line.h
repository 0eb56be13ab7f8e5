// The progress line of a run on a terminal: how much of the run's bytes
// are done, the rate over the last seconds and the item at hand.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace arcfold_cli {

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;
  // sizes: the bytes of each item of the run in the order they come
  // (items without data count for nothing); empty when the sizes are not
  // known beforehand, and then the line shows the run's own percentage.
  ProgressLine(std::FILE* out, std::vector<int64_t> sizes);
  // An item starts (again, after a retry, when it has the same name).
  void ItemStarted(const std::string& shown_name);
  // The share of the current item done (0..100).
  void ItemProgress(double percent, Clock::time_point now = Clock::now());
  // The run's percentage, for runs without sizes.
  void RunProgress(double percent, Clock::time_point now = Clock::now());
  // The last line drawn, then a new line: the run is over.
  void Finish();
  // Removes the line, so that a question or a message starts at the left.
  void Clear();
  // What the line would show now (for tests).
  std::string Text(Clock::time_point now) const;

 private:
  void Redraw(Clock::time_point now, bool force);
  double Rate(Clock::time_point now) const;
  std::FILE* out_;
  std::vector<int64_t> sizes_;
  int64_t total_ = 0;
  int64_t before_current_ = 0;  // bytes of the items before the current one
  int64_t done_ = 0;
  double run_percent_ = 0;
  size_t current_ = 0;  // 1-based index of the current item, 0 before the first
  std::string name_;
  std::deque<std::pair<Clock::time_point, int64_t>> samples_;
  Clock::time_point last_draw_{};
  size_t drawn_width_ = 0;
};

}  // namespace arcfold_cli
