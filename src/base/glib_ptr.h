// Ownership helpers for memory that GLib hands out.
#pragma once

#include <glib.h>
#include <memory>

struct GFreeDeleter {
    void operator()(void *p) const { g_free(p); }
};
// A g_malloc'ed string freed with g_free when it goes out of scope.
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

struct GErrorDeleter {
    void operator()(GError *e) const { g_error_free(e); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorDeleter>;
