#include "app/quit.h"

#include "device/serial.h"
#include "index/index_list.h"
#include "maintenance/device_operation.h"
#include "player/playback.h"

namespace
{
void quit()
{
    player_quit();
    device_operation_quit();
    serial_close();
    idx_list_clear();
    gtk_main_quit();
}
} // namespace

void ui_on_quit(GtkMenuItem *, gpointer)
{
    quit();
}

void ui_on_window_main_destroy(GtkWidget *, gpointer)
{
    quit();
}
