#include "maintenance/reset.h"

#include "base/i18n.h"
#include "maintenance/operation.h"

namespace
{
constexpr MaintenanceOperation reset_operation{
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

void maintenance_reset_activate(GtkMenuItem *, gpointer)
{
    maintenance_start(reset_operation);
}
