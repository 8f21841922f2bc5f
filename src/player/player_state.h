// The two flags that the transport buttons and the player worker share.
// Each lives under its own lock, held only around a single read or write.
#pragma once

#include <glib.h>

// Running: while the player should go on. Set by the worker when a run
// starts, cleared by Pause, Stop, Previous, Next, quit and the run's
// completion.
// Resume pending: from Pause until something cancels the resume (Stop,
// Previous, Next, a cursor move, a run that ended by itself, a reset or
// update). While it holds, Play goes on where the paused run stopped.
//
// Locked reads and writes of the two flags; any thread.
bool player_is_running();
void player_set_running(bool running);
bool player_resume_pending();
void player_set_resume_pending(bool pending);
