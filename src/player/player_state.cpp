#include "player/player_state.h"

namespace
{
int player_running = 0;
GMutex player_lock;
int resume_pending = 0;
GMutex resume_lock;

bool get_flag(GMutex *lock, const int *flag)
{
    g_mutex_lock(lock);
    const int value = *flag;
    g_mutex_unlock(lock);
    return value != 0;
}

void set_flag(GMutex *lock, int *flag, bool value)
{
    g_mutex_lock(lock);
    *flag = value ? 1 : 0;
    g_mutex_unlock(lock);
}
} // namespace

bool player_is_running()
{
    return get_flag(&player_lock, &player_running);
}

void player_set_running(bool running)
{
    set_flag(&player_lock, &player_running, running);
}

bool player_resume_pending()
{
    return get_flag(&resume_lock, &resume_pending);
}

void player_set_resume_pending(bool pending)
{
    set_flag(&resume_lock, &resume_pending, pending);
}
