#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

namespace {

// Columns of the terminal on stderr, asked each time: the window may be resized during a run.
int TerminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

// The label cut to at most `room` columns, keeping its end (a file's extension and the end of
// its name tell files apart best). Counts bytes: a UTF-8 name may come out a little short.
std::string Shortened(const std::string& label, int room) {
    if (static_cast<int>(label.size()) <= room) return label;
    if (room <= 3) return std::string(std::max(room, 0), '.');
    std::size_t from = label.size() - (room - 3);
    while (from < label.size() && (label[from] & 0xC0) == 0x80) ++from;  // not mid-character
    return "..." + label.substr(from);
}

}  // namespace

std::string ProgressText(const std::string& label, int percent, int columns) {
    // "label [#####.....] 45%": the bar takes what is left, from 10 to 30 columns; the line stays
    // one column short of the edge, where some terminals wrap.
    const int tail = 7;  // " [", "] ", "100%" less the bar
    const int bar = std::clamp(columns - 1 - tail - 12, 10, 30);
    const int filled = percent * bar / 100;
    const std::string name = Shortened(label, columns - 1 - tail - bar - 1);
    std::string text = name + " [" + std::string(filled, '#') + std::string(bar - filled, '.') +
                       "] " + std::to_string(percent) + "%";
    return text.substr(0, std::max(columns - 1, 0));
}

void ProgressLine::ShowPercent(const std::string& label, int percent) {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    if (percent == lastPercent_) return;  // the run reports far more often than the bar moves
    lastPercent_ = percent;
    Draw(ProgressText(label, percent, TerminalWidth()));
}

void ProgressLine::ShowText(const std::string& text) {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    Draw(text.substr(0, std::max(TerminalWidth() - 1, 0)));
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
