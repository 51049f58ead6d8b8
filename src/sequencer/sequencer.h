#pragma once

// The launch sequencer: the run gate that lets the timer run only outside the normal window state, and the
// one-second tick that counts, starts each program at its delay, reports a missing one and finishes.

namespace selvatro::window {
class Form;
}

namespace selvatro::sequencer {

/// The run gate: the timer runs in every window state but normal; in the normal state it stops and the caption
/// says so.
void Form_Resize(window::Form& form);

/// One tick: counts a second, shows it, starts the rows due now, and ends the program after the last delay.
void Timer1_Timer(window::Form& form);

}  // namespace selvatro::sequencer
