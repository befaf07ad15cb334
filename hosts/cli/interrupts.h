// Ctrl-C, SIGTERM and SIGHUP stop the tool without leaving a half-written temporary file behind.
#pragma once

#include <string>

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove every registered temporary file
// and then end the process by the same signal, so a shell sees 128 + its number.
void RemoveTemporariesOnInterrupt();

// Keeps `path` on the list of files the handlers remove, from construction until Release() or
// destruction. The list lives in static memory so the handlers need neither locks nor allocation.
class TemporaryFileGuard {
public:
    // Throws std::length_error if the path is too long or every slot is taken.
    explicit TemporaryFileGuard(const std::string& path);
    ~TemporaryFileGuard() { Release(); }
    TemporaryFileGuard(const TemporaryFileGuard&) = delete;
    TemporaryFileGuard& operator=(const TemporaryFileGuard&) = delete;

    // The file is no longer ours to remove (it was renamed over its target, or removed).
    void Release();

private:
    int slot_;
};
