// The rows of a picture another thread is still drawing, from the top down: an encoder waits at
// the gate for the rows it needs, and writes the first ones while the last are drawn.
#pragma once

#include <condition_variable>
#include <mutex>

class RowGate {
public:
    // Rows 0 .. rows - 1 are final.
    void Open(int rows) {
        {
            const std::lock_guard lock(mutex_);
            open_ = rows;
        }
        changed_.notify_all();
    }

    // No more rows will come, whether the drawing finished or failed.
    void Close() {
        {
            const std::lock_guard lock(mutex_);
            closed_ = true;
        }
        changed_.notify_all();
    }

    // Waits until rows 0 .. rows - 1 are final; false if they never will be.
    bool Wait(int rows) const {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return open_ >= rows || closed_; });
        return open_ >= rows;
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    int open_ = 0;
    bool closed_ = false;
};
