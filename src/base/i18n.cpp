#include "base/i18n.h"

#include "base/glib_ptr.h"

#include <glib.h>

#include <clocale>
#include <cstdarg>
#include <initializer_list>

namespace
{

bool holds_catalogue(const char *folder)
{
    GDir *dir = g_dir_open(folder, 0, nullptr);
    if (dir == nullptr)
        return false;
    bool found = false;
    while (const gchar *language = g_dir_read_name(dir)) {
        const GCharPtr file(
            g_build_filename(folder, language, "LC_MESSAGES", RAVELO_TEXT_DOMAIN ".mo", nullptr));
        found = g_file_test(file.get(), G_FILE_TEST_IS_REGULAR);
        if (found)
            break;
    }
    g_dir_close(dir);
    return found;
}

} // namespace

void i18n_start()
{
    std::setlocale(LC_ALL, "");
    const GCharPtr program(g_file_read_link("/proc/self/exe", nullptr));
    if (program != nullptr) {
        const GCharPtr bin(g_path_get_dirname(program.get()));
        for (const char *relative : {"../share/locale", "../../share/locale"}) {
            const GCharPtr locale(g_canonicalize_filename(relative, bin.get()));
            if (holds_catalogue(locale.get())) {
                bindtextdomain(RAVELO_TEXT_DOMAIN, locale.get());
                break;
            }
        }
    }
    bind_textdomain_codeset(RAVELO_TEXT_DOMAIN, "UTF-8");
}

std::string i18n_format(const char *format, ...)
{
    std::va_list values;
    va_start(values, format);
    const GCharPtr text(g_strdup_vprintf(format, values));
    va_end(values);
    return text.get();
}
