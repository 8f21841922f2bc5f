// ThreadSanitizer builds only: make the program's GLib synchronisation
// visible to the sanitizer.
//
// GLib's mutexes are futexes inside an uninstrumented library, and a worker
// hands its result to the UI thread through an idle source whose locking is
// just as invisible. Without help the sanitizer reports every variable that
// such a lock or hand-over protects. The program's own calls of
// g_mutex_lock(), g_mutex_unlock(), g_mutex_trylock() and
// gdk_threads_add_idle() bind to the wrappers below (GLib's internal calls
// do not), which forward to the real functions and tell the sanitizer which
// order they establish. Built into the application library only with
// -DRAVELO_TSAN=ON.

#include <gdk/gdk.h>
#include <glib.h>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

namespace
{
template <typename Function> Function next_definition(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// One hand-over: the callback and its data, released by the scheduling
// thread and acquired by the main loop before the callback runs.
struct Handover {
    GSourceFunc function;
    gpointer data;
};

gboolean run_handover(gpointer data)
{
    auto *handover = static_cast<Handover *>(data);
    __tsan_acquire(handover);
    return handover->function(handover->data);
}

void free_handover(gpointer data)
{
    delete static_cast<Handover *>(data);
}
} // namespace

extern "C" {

void g_mutex_lock(GMutex *mutex)
{
    static const auto real = next_definition<void (*)(GMutex *)>("g_mutex_lock");
    real(mutex);
    __tsan_acquire(mutex);
}

void g_mutex_unlock(GMutex *mutex)
{
    static const auto real = next_definition<void (*)(GMutex *)>("g_mutex_unlock");
    __tsan_release(mutex);
    real(mutex);
}

gboolean g_mutex_trylock(GMutex *mutex)
{
    static const auto real = next_definition<gboolean (*)(GMutex *)>("g_mutex_trylock");
    if (!real(mutex))
        return FALSE;
    __tsan_acquire(mutex);
    return TRUE;
}

guint gdk_threads_add_idle(GSourceFunc function, gpointer data)
{
    auto *handover = new Handover{function, data};
    __tsan_release(handover);
    return gdk_threads_add_idle_full(G_PRIORITY_DEFAULT_IDLE, run_handover, handover,
                                     free_handover);
}

// The toolkit and its libraries are not instrumented: what they do inside
// (on their own threads too, such as the file chooser's) is not judged,
// while every access of the program's own code still is.
const char *__tsan_default_options()
{
    return "ignore_noninstrumented_modules=1";
}
}
