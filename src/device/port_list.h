// The USB serial ports the system has, and their plugging and unplugging,
// as udev tells them (libgudev): every tty whose parent is a USB interface.
//
// The facts of a port come from the USB device's sysfs attributes, which
// hold the maker's texts as they are (udev's ID_VENDOR and ID_MODEL have
// their blanks made into '_'), else from udev's properties; the by-id link
// only from udev's database. Without a udev daemon (containers) there is no
// database: ports are still found, with no by-id link, and no plug or unplug
// is ever told. Every text is cleaned (cleaned_text()): valid UTF-8, no
// control characters, a bounded length.
//
// Everything here belongs to the UI thread (or to a program without a
// window, such as --list-ports); listeners are called from the main loop.
#pragma once

#include <glib.h>

#include <string>
#include <vector>

struct PortInfo {
    std::string node;  // "/dev/ttyACM0"
    std::string by_id; // "/dev/serial/by-id/usb-…-if00", or empty
    // Four hex digits each, or empty when unreadable.
    std::string vendor_id, product_id;
    // The USB device's texts, cleaned; empty when it has none or they
    // cannot be read.
    std::string maker, product, serial;
    std::string interface; // "00", or empty
};

// The longest maker, product or serial text kept, in characters; a longer
// one is cut and ends in "…".
inline constexpr long port_list_text_max = 64;

// Every USB serial port now, in the order of their nodes. Empty when there
// is none (or sysfs cannot be read).
std::vector<PortInfo> port_list_find();

// The name to configure for `port`: its by-id link, else its node.
const std::string &port_list_path(const PortInfo &port);

// The product's name, else its IDs ("USB 1209:7261"), for the status bar.
std::string port_list_product(const PortInfo &port);

// "PRODUCT (MAKER, serial SERIAL)", the parts it lacks left out; and the
// same followed by " – PATH". Translated, valid UTF-8.
std::string port_list_what(const PortInfo &port);
std::string port_list_describe(const PortInfo &port);

// Whether the configured port name `name` designates `port`: its node, its
// by-id link, the node without "/dev/" (the serial layer's retry), or a link
// that leads to the node (while both exist).
bool port_list_names(const PortInfo &port, const char *name);

// `text` made fit to show: invalid UTF-8 replaced, control characters
// (C0, DEL, C1) made into U+FFFD, leading and trailing blanks removed, and
// at most `max_chars` characters kept (a cut text ends in "…").
std::string port_list_clean(const char *text, long max_chars = port_list_text_max);

// Told about each USB serial port that was plugged in (`plugged`) or
// unplugged, with its facts as they were when it was seen. UI thread.
using PortListener = void (*)(const PortInfo &port, bool plugged, gpointer data);

// Adds a listener (the first one starts the watch). False when udev cannot
// be watched at all; the listener is then never called. UI thread.
bool port_list_watch(PortListener listener, gpointer data);
// Removes a listener added with the same two values. UI thread.
void port_list_unwatch(PortListener listener, gpointer data);
