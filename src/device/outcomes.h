// Worker messages that every device operation (playback, reset, update) may
// end with: constant, untranslated texts handed from a worker thread to its
// completion callback, which shows them inside a translated template. Never
// freed.
#pragma once

inline constexpr char device_msg_no_port[] = "Unable to access communication port to device";
inline constexpr char device_msg_no_sync[] = "Unable to sync with device";
