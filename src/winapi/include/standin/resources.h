// Controls of the stand-in for tests and tools: counts of live objects and injected failures.
//
// Counts and injected failures belong to the calling thread, as do the object pools behind them,
// so parallel runs on several threads neither contend nor disturb each other's figures.
#pragma once

namespace standin {

enum class Resource {
    GlobalMemory,  // GlobalAlloc
    GlobalLock,    // GlobalLock (only failures are injected; locks are not objects)
    DibSection,    // CreateDIBSection
    MemoryDc,      // CreateCompatibleDC
    Pen,           // CreatePen
    Brush,         // CreateSolidBrush
    Count
};

// Objects of this kind created and not yet released on this thread.
int LiveObjects(Resource kind);
// All live objects of every kind on this thread.
int LiveObjects();

// Makes the n-th next request (1 = the very next one) for this kind fail on this thread.
void FailNth(Resource kind, int n);
// True while the failure injected for this kind on this thread has not been reached yet: a run
// that leaves it pending made fewer requests than the failure waited for.
bool FailurePending(Resource kind);
// Forgets every pending injected failure on this thread.
void ClearFailures();

}  // namespace standin
