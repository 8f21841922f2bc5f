// The two flags that the transport buttons and the player worker share.
// Each lives under its own lock, held only around a single read or write.
#pragma once

#include <glib.h>

// 1 while the player should go on. Set by the worker when a run starts,
// cleared by Pause, Stop, Previous, Next, quit and the run's completion.
extern int player_running;
extern GMutex player_lock;
// 1 from Pause until something cancels the resume (Stop, Previous, Next, a
// cursor move, a run that ended by itself, a reset or update). While it is
// 1, Play goes on from playback_offset.
extern int resume_pending;
extern GMutex resume_lock;

// Locked reads and writes of the two flags; any thread.
bool player_is_running();
void player_set_running(bool running);
bool player_resume_pending();
void player_set_resume_pending(bool pending);
