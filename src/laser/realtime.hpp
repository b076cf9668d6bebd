#pragma once

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

// Moves the calling thread to SCHED_FIFO at kSenderPriority. Null when granted, else
// a line saying so (static text: the caller may be that real-time thread). Never throws.
[[nodiscard]] const char* enterRealtime();

// Locks the process's memory mapped so far, so that a page fault cannot hold the sender;
// called once the first frame is out, off the sender's path. Null when granted, else a
// line saying so (static text). Never throws.
[[nodiscard]] const char* lockMemory();

} // namespace lumarok
