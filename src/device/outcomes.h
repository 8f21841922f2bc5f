// Worker messages that every device operation (playback, reset, update) may
// end with: constant, untranslated texts handed from a worker thread to its
// completion callback, which looks them up in the catalogue and shows them
// inside a translated template. Never freed.
#pragma once

#include "base/i18n.h"

inline constexpr char device_msg_no_port[] = N_("Unable to access communication port to device");
inline constexpr char device_msg_no_sync[] = N_("Unable to sync with device");
