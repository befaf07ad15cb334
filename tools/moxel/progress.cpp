#include "progress.h"

#include <unistd.h>

#include <cstdio>

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void ProgressLine::ShowPercent(const std::string& label, int percent) {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    if (percent == lastPercent_) return;  // the run reports far more often than the bar moves
    lastPercent_ = percent;
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::string text = label + " [" + std::string(filled, '#') + std::string(kWidth - filled, '.') +
                       "] " + std::to_string(percent) + "%";
    Draw(text);
}

void ProgressLine::ShowText(const std::string& text) {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    Draw(text);
}

void ProgressLine::PrintLine(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (enabled_ && drawn_) std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "%s\n", line.c_str());
    if (enabled_ && drawn_) std::fputs(current_.c_str(), stderr);
    std::fflush(stderr);
}

void ProgressLine::Finish() {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    if (drawn_) std::fputs("\n", stderr);
    drawn_ = false;
    lastPercent_ = -1;
}

void ProgressLine::Draw(const std::string& text) {
    current_ = text;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    drawn_ = true;
}
