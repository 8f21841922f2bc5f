#include "config/config.h"

gchar *device_port = nullptr;
gchar *bootloader_port = nullptr;
gchar *config_file_path = nullptr;

void config_init()
{
    config_load();
}
void config_load() {}
int config_save()
{
    return 0;
}
