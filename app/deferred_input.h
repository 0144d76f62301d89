// Input that arrives while the pipeline runs (long filters yield to the event loop) is
// held back and replayed, in order, once the run has ended (a slider's scroll events always
// pass through the queue, so that a run never starts inside the toolkit's handling of a drag): a control, menu, mouse or key
// event could otherwise free or resize the arrays the run is using, or have its change
// overwritten when the run restores its parameters. Paint and size events pass, so the
// window keeps drawing; windows of their own (progress dialogs) keep their input.
#pragma once

// Installs the event filter (once).
void install_deferred_input();

// Replays what was held back when no run is in progress; the idle handler calls it.
void replay_deferred_input();

// The number of events held back (for the tests).
int deferred_input_count();
