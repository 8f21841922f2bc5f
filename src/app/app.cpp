#include "app/app.h"

#include "app/main_window.h"
#include "config/config.h"
#include "config/connection_window.h"
#include "index/index_list.h"
#include "app/quit.h"
#include "ui/registry.h"

void app_startup(int *argc, char ***argv)
{
    gtk_set_locale();
    gtk_init(argc, argv);
    window_main = ui_window_main_create();
    window_connection_settings = config_window_create();
    config_init();
    gtk_widget_show(window_main);
    g_signal_connect(window_main, "destroy", G_CALLBACK(ui_on_window_main_destroy), nullptr);
    idx_list_setup();
}
