// ravelo-icon: renders the cassette drawing (an XPM file) as a square PNG
// icon of the given size, for the hicolor icon theme.
//
//   ravelo-icon DRAWING.xpm SIZE OUT.png
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    const int size = argc == 4 ? std::atoi(argv[2]) : 0;
    if (size <= 0) {
        std::fprintf(stderr, "usage: ravelo-icon DRAWING.xpm SIZE OUT.png\n");
        return 2;
    }
    GError *error = nullptr;
    GdkPixbuf *drawing = gdk_pixbuf_new_from_file(argv[1], &error);
    GdkPixbuf *icon = nullptr;
    if (drawing != nullptr) {
        // Hyperbolic filtering keeps the small sizes legible and the large
        // ones smooth.
        icon = gdk_pixbuf_scale_simple(drawing, size, size, GDK_INTERP_HYPER);
        g_object_unref(drawing);
    }
    if (icon == nullptr || !gdk_pixbuf_save(icon, argv[3], "png", &error, nullptr)) {
        std::fprintf(stderr, "ravelo-icon: %s\n",
                     error != nullptr ? error->message : "cannot scale");
        return 1;
    }
    g_object_unref(icon);
    return 0;
}
