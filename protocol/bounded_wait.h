// Bounded waits of the database transports, and the process-wide wake-up that ends them.
//
// Every wait of a transport on a socket (connecting, sending, a reply) has a deadline:
// a server that stops answering then ends the wait like a lost connection instead of
// holding the calling thread (the GUI thread) for ever.
//
// The wake-up: InterruptDatabaseWaits (safe in a signal handler) ends every wait that is
// in progress at once and bounds every later one to kShutdownGrace after the interrupt,
// so that a program told to end can still run its shut-down order: a server that answers
// is waited for as usual during that grace, one that does not costs at most the grace.
//
// Invariants:
//  1. WaitForSocket never waits past its deadline, nor past the grace once interrupted.
//  2. The interrupt is final for the process (only tests reset it).
#pragma once

#include <chrono>
#include <cstdint>

namespace vantera {

using WaitClock = std::chrono::steady_clock;

// How long waits may still take after InterruptDatabaseWaits.
inline constexpr std::chrono::milliseconds kShutdownGrace{2000};

// The deadline `ms` milliseconds from now.
WaitClock::time_point DeadlineAfter(uint32_t ms);

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT). True when it is; false when
// the deadline (or the grace after an interrupt) passed first. An error or hang-up of the
// socket counts as ready: the next read or write reports it.
bool WaitForSocket(int fd, short events, WaitClock::time_point deadline);

// Ends the waits in progress and bounds later ones (see above). Async-signal-safe.
void InterruptDatabaseWaits() noexcept;
// Whether InterruptDatabaseWaits was called.
bool DatabaseWaitsInterrupted() noexcept;
// Forgets an interrupt; for tests that interrupt inside their own process.
void ResetDatabaseWaitInterrupt() noexcept;

}  // namespace vantera
