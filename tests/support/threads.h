#pragma once
// The end of a test executable. Qt's threads are detached from the system's: a QThread that has
// finished (the network layer's thread of a download, once its manager is gone) still winds down its
// system thread afterwards. One still running while the process exits races the leak checker of the
// sanitizer runs, which then fails the executable after all its tests passed.

// Waits until no thread but the calling one is left in the process, at most timeoutMs; names those
// still there on standard error when the wait runs out. True when they are all gone.
bool waitForOtherThreadsToEnd(int timeoutMs = 30000);
