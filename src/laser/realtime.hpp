#pragma once

#include <string>

namespace lumarok {

// SCHED_FIFO priorities of the laser sender and of the link's receive thread, whose
// buffer reports the sender paces on (a report handled late is a stale estimate):
// above every ordinary program, below the kernel's own threads and audio servers'
// real-time threads; the receiver below the sender, so a flood of reports cannot
// hold the sender back.
inline constexpr int kSenderPriority = 10;
inline constexpr int kReceiverPriority = 9;

// Moves the calling thread to SCHED_FIFO at `priority`; false where refused.
bool raiseToRealtime(int priority);

// Moves the calling thread to SCHED_FIFO at kSenderPriority and locks the process's
// memory mapped so far, so the
// sender is neither kept off the processor by a busy machine nor held by a page
// fault. Returns an empty text when both were granted, else one line saying what
// was refused and why. Never throws.
[[nodiscard]] std::string enterRealtime();

} // namespace lumarok
