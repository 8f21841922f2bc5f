#include "config/config.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "index/document_commands.h"
#include "ui/feedback.h"

#include <glib/gstdio.h>

namespace
{

// The module's state: the two port names and where the file is.
gchar *device_port = nullptr;
gchar *bootloader_port = nullptr;
gchar *file_path = nullptr;
bool fast_load = true;
constexpr const char *playback_group = "playback";

constexpr const char *config_group = "connection";

struct KeyFileDeleter {
    void operator()(GKeyFile *key_file) const { g_key_file_free(key_file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileDeleter>;

void set_port(gchar **port, gchar *value)
{
    g_free(*port);
    *port = value;
}

void set_defaults()
{
    fast_load = true;
    set_port(&device_port, g_strdup(config_default_device_port));
    set_port(&bootloader_port, g_strdup(config_default_bootloader_port));
}

// The key's string, or a copy of the default when it is absent or unreadable.
gchar *read_port(GKeyFile *key_file, const char *key, const char *fallback)
{
    if (g_key_file_has_key(key_file, config_group, key, nullptr)) {
        if (gchar *value = g_key_file_get_string(key_file, config_group, key, nullptr))
            return value;
    }
    return g_strdup(fallback);
}

// The folder for "user.ini": ours under the user's configuration folder,
// created when nothing is there yet. When it cannot be had, the current
// directory.
gchar *config_folder()
{
    // TRANSLATORS: the name of the settings folder. Leave the translation
    // empty: a translated name would move the user's settings elsewhere.
    gchar *folder = g_build_filename(g_get_user_config_dir(), _("ravelo-client"), nullptr);
    // The user's configuration folder itself may be missing on a fresh
    // account; its missing parents are made too.
    if (!g_file_test(folder, G_FILE_TEST_EXISTS))
        g_mkdir_with_parents(folder, 0700);
    if (g_file_test(folder, G_FILE_TEST_IS_DIR))
        return folder;
    g_free(folder);
    return g_get_current_dir();
}

} // namespace

void config_init()
{
    const GCharPtr folder(config_folder());
    // TRANSLATORS: the name of the settings file. Leave the translation
    // empty: a translated name would lose the user's settings.
    g_free(file_path);
    file_path = g_build_filename(folder.get(), _("user.ini"), nullptr);
    config_load();
}

void config_load()
{
    if (!g_file_test(file_path, G_FILE_TEST_EXISTS)) {
        set_defaults();
        config_save();
        return;
    }
    const KeyFilePtr key_file(g_key_file_new());
    if (!g_key_file_load_from_file(key_file.get(), file_path, G_KEY_FILE_KEEP_COMMENTS, nullptr)) {
        set_defaults();
        return;
    }
    set_port(&device_port, read_port(key_file.get(), "device_port", config_default_device_port));
    set_port(&bootloader_port,
             read_port(key_file.get(), "bootloader_port", config_default_bootloader_port));
    GError *error = nullptr;
    const gboolean fast =
        g_key_file_get_boolean(key_file.get(), playback_group, "fast_load", &error);
    fast_load = error != nullptr || fast;
    if (error != nullptr)
        g_error_free(error);
}

int config_save()
{
    // The values go through the same key-file escapes that config_load()
    // undoes, so that every name comes back as it was typed.
    constexpr char head[] = "# Ravelo playback client config file - do NOT edit\n[connection]\n";
    const KeyFilePtr key_file(g_key_file_new());
    if (!g_key_file_load_from_data(key_file.get(), head, sizeof head - 1, G_KEY_FILE_KEEP_COMMENTS,
                                   nullptr))
        return 0;
    g_key_file_set_string(key_file.get(), config_group, "device_port", device_port);
    g_key_file_set_string(key_file.get(), config_group, "bootloader_port", bootloader_port);
    if (!fast_load)
        g_key_file_set_boolean(key_file.get(), playback_group, "fast_load", FALSE);
    return g_key_file_save_to_file(key_file.get(), file_path, nullptr) ? 1 : 0;
}

namespace
{
bool port_ready(const gchar *port, const char *error)
{
    if (port != nullptr && port[0] != '\0')
        return true;
    status_show(error);
    return false;
}
} // namespace

bool config_device_port_ready()
{
    return port_ready(device_port, _(" Error: Invalid device port"));
}

bool config_bootloader_port_ready()
{
    return port_ready(bootloader_port, _(" Error: Invalid bootloader port"));
}

const gchar *config_device_port()
{
    return device_port;
}

const gchar *config_bootloader_port()
{
    return bootloader_port;
}

void config_set_ports(const gchar *device, const gchar *bootloader)
{
    if (device != nullptr)
        set_port(&device_port, g_strdup(device));
    if (bootloader != nullptr)
        set_port(&bootloader_port, g_strdup(bootloader));
}

const gchar *config_file_path()
{
    return file_path;
}

bool config_fast_load()
{
    return fast_load;
}

void config_on_fast_load_toggled(GtkCheckMenuItem *item, gpointer)
{
    const bool on = gtk_check_menu_item_get_active(item);
    if (on == fast_load)
        return;
    fast_load = on;
    config_save();
    document_set_fast_load(on);
}
