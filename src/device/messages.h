// The worker messages of the device operations (playback, reset, update):
// constant, untranslated texts handed from a worker thread to its
// completion callback, which looks them up in the catalogue and shows them
// inside a translated template. Compared by address; never freed.
#pragma once

#include "base/i18n.h"

// Any operation: the device's console port.
inline constexpr char device_msg_no_port[] = N_("Unable to access communication port to device");
inline constexpr char device_msg_no_sync[] = N_("Unable to sync with device");

// Reset and update: the jump to the bootloader could not be sent.
inline constexpr char device_msg_no_reset[] = N_("Unable to initiate reset on device");
// Update: the tool could not be started, ended with a non-zero status or by
// a signal, or ran past its time limit.
inline constexpr char device_msg_tool_failed[] = N_("The avrdude executable exited with error");

// Playback: how a run ended.
inline constexpr char device_msg_open[] = N_("Unable to open file");
inline constexpr char device_msg_size[] = N_("Unable to retrieve file size");
inline constexpr char device_msg_start[] = N_("Unable to start playback on device");
inline constexpr char device_msg_invalid_index[] = N_("Invalid index supplied for file");
inline constexpr char device_msg_seek[] = N_("Error seeking in index file");
inline constexpr char device_msg_read[] = N_("Error reading from file");
inline constexpr char device_msg_write[] = N_("Error writing data to device");
inline constexpr char device_msg_success[] = N_("Success condition received");
inline constexpr char device_msg_failure[] = N_("Failure condition received");
inline constexpr char device_msg_gone[] = N_("The device is gone (unplugged?)");
