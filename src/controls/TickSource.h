#pragma once
// The millisecond tick count the controls measure presses with, and the switch that lets
// tests drive the controls' drag timers by hand.
//
// Threads: UI thread only (the replaceable source is a plain global).

#include <cstdint>
#include <functional>

namespace skm {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the system tick count;
// callers subtract two ticks in unsigned 32-bit arithmetic.
uint32_t TickCount();

// Replaces the tick source (tests feed fake time); an empty function restores the
// steady clock.
void SetTickSource(std::function<uint32_t()> source);

// When manual, the drag timers never start a real timer: they only record that they are
// enabled, and the test calls the control's TimerTick itself. Off by default.
void SetManualDragTimers(bool manual);
bool ManualDragTimers();

} // namespace skm
