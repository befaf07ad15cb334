// Progress on stderr, for people watching a terminal: redrawn in place, silent otherwise.
#pragma once

#include <mutex>
#include <string>

class ProgressLine {
public:
    // Draws nothing unless `enabled` (stderr is a terminal and the user did not ask for quiet).
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}
    ~ProgressLine() { Finish(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // A bar for one image: "label [#####.....]  45%".
    void ShowPercent(const std::string& label, int percent);
    // A status text of its own, e.g. for a batch: "3 of 10 images ...".
    void ShowText(const std::string& text);
    // Prints a whole line (a message) above the progress line without garbling it.
    void PrintLine(const std::string& line);
    // Leaves the terminal on a fresh line.
    void Finish();

private:
    void Draw(const std::string& text);

    bool enabled_;
    bool drawn_ = false;
    int lastPercent_ = -1;
    std::string current_;
    std::mutex mutex_;
};

bool StderrIsTerminal();

// One bar's line, fitted into `columns` (the name is shortened first, then the bar).
std::string ProgressText(const std::string& label, int percent, int columns);
