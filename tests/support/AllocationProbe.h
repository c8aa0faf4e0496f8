// Hooks into the replacement operator new of a test program (AllocationProbe.cpp, compiled
// into it): a per-thread count of allocations and a way to make aligned no-throw allocations
// fail.
#pragma once

namespace skvtest {

/// False where operator new cannot be replaced (the thread sanitizer brings its own): the
/// counting and failing hooks then do nothing, and the tests that need them skip.
bool allocationProbeAvailable();

/// Starts counting operator new calls made by this thread (any form) from zero.
void startCountingAllocations();
/// Stops counting and returns the number of calls since startCountingAllocations.
long stopCountingAllocations();
/// Makes the n-th aligned no-throw allocation from now on (1 = the next one) return null;
/// 0 disarms.
void failAlignedNoThrowAllocation(int n);

}  // namespace skvtest
