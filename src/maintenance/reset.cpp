#include "maintenance/reset.h"

#include "maintenance/device_operation.h"
#include "base/i18n.h"

namespace
{
constexpr DeviceOperation reset_operation{
    "reset",
    N_(" Device reset requested"),
    N_("Resetting device\n"),
    N_(" Device reset failed: %s"),
    N_(" Device reset succeeded"),
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};
} // namespace

void device_reset_activate(GtkMenuItem *, gpointer)
{
    device_operation_start(reset_operation);
}
