#include "progress_line.h"

#include <fmt/format.h>

#include <algorithm>

namespace arcfold_cli {

namespace {

// The line is redrawn at most this often, and its rate is the average over
// this window: a flicker-free line whose rate follows changes within seconds.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr auto kRateWindow = std::chrono::seconds(3);
// The name is cut to keep the line within an 80-column terminal.
constexpr size_t kNameWidth = 36;
constexpr double kMega = 1e6;

}  // namespace

ProgressLine::ProgressLine(std::FILE* out, std::vector<int64_t> sizes) : out_(out), sizes_(std::move(sizes)) {
  for (int64_t s : sizes_) total_ += std::max<int64_t>(s, 0);
}

void ProgressLine::ItemStarted(const std::string& shown_name) {
  if (current_ > 0 && shown_name == name_) {  // a retry: the item starts over
    done_ = before_current_;
    return;
  }
  if (current_ > 0 && current_ <= sizes_.size()) before_current_ += std::max<int64_t>(sizes_[current_ - 1], 0);
  ++current_;
  done_ = before_current_;
  name_ = shown_name;
}

void ProgressLine::ItemProgress(double percent, Clock::time_point now) {
  if (current_ == 0 || current_ > sizes_.size()) return;
  const int64_t size = std::max<int64_t>(sizes_[current_ - 1], 0);
  done_ = before_current_ + static_cast<int64_t>(static_cast<double>(size) * std::clamp(percent, 0.0, 100.0) / 100.0);
  Redraw(now, false);
}

void ProgressLine::RunProgress(double percent, Clock::time_point now) {
  run_percent_ = std::clamp(percent, 0.0, 100.0);
  if (sizes_.empty()) Redraw(now, false);
}

double ProgressLine::Rate(Clock::time_point now) const {
  if (samples_.size() < 2) return 0;
  const double secs = std::chrono::duration<double>(now - samples_.front().first).count();
  return secs > 0 ? static_cast<double>(samples_.back().second - samples_.front().second) / secs : 0;
}

std::string ProgressLine::Text(Clock::time_point now) const {
  std::string name = name_;
  if (name.size() > kNameWidth) {
    size_t start = name.size() - (kNameWidth - 3);
    while (start < name.size() && (static_cast<unsigned char>(name[start]) & 0xC0) == 0x80)
      ++start;  // whole characters
    name = "..." + name.substr(start);
  }
  if (sizes_.empty()) return fmt::format("{:5.1f}% {}", run_percent_, name);
  const double percent = total_ > 0 ? static_cast<double>(done_) * 100.0 / static_cast<double>(total_) : 100.0;
  return fmt::format("{:5.1f}% {:>9.1f} of {:.1f} MB {:7.1f} MB/s {}", percent, static_cast<double>(done_) / kMega,
                     static_cast<double>(total_) / kMega, Rate(now) / kMega, name);
}

void ProgressLine::Redraw(Clock::time_point now, bool force) {
  if (!force && now - last_draw_ < kRedrawInterval) return;
  last_draw_ = now;
  samples_.emplace_back(now, done_);
  while (samples_.size() > 2 && now - samples_[1].first >= kRateWindow) samples_.pop_front();
  const std::string text = Text(now);
  std::fputc('\r', out_);
  std::fputs(text.c_str(), out_);
  // What a longer line drawn before left on the right is blanked.
  for (size_t i = text.size(); i < drawn_width_; ++i) std::fputc(' ', out_);
  drawn_width_ = std::max(drawn_width_, text.size());
  std::fflush(out_);
}

void ProgressLine::Finish() {
  Redraw(Clock::now(), true);
  std::fputc('\n', out_);
  std::fflush(out_);
  drawn_width_ = 0;
}

void ProgressLine::Clear() {
  if (drawn_width_ == 0) return;
  std::fputc('\r', out_);
  for (size_t i = 0; i < drawn_width_; ++i) std::fputc(' ', out_);
  std::fputc('\r', out_);
  std::fflush(out_);
  drawn_width_ = 0;
}

}  // namespace arcfold_cli
