#include "player/player_worker.h"

guint32 buffer_cycles = 0;
guint32 buffer_seconds = 0;
GMutex buffer_lock;
guint32 playback_offset = 20;
int tap_file_handle = -1;
int tap_file_open = 0;
guint player_pulse_state = 0;

gpointer player_worker(gpointer)
{
    return nullptr;
}
