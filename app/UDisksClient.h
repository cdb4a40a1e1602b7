#pragma once

#include <QDBusConnection>

#include <string>

namespace mendrake {

// udisks2, the drive service every desktop runs, opens block devices for
// users who may not: its Block.OpenDevice hands over a descriptor once polkit
// allows it, and the desktop's polkit agent asks the user for the password.
// Mendrake stays unprivileged: one call, then an ordinary descriptor.
namespace udisks {

inline constexpr char kService[] = "org.freedesktop.UDisks2";
inline constexpr char kManagerPath[] = "/org/freedesktop/UDisks2/Manager";
inline constexpr char kManagerInterface[] = "org.freedesktop.UDisks2.Manager";
inline constexpr char kBlockInterface[] = "org.freedesktop.UDisks2.Block";
inline constexpr char kBlockDevicesPath[] = "/org/freedesktop/UDisks2/block_devices/";
// Long enough for the user to read the password prompt and answer it.
inline constexpr int kPromptTimeoutMs = 5 * 60 * 1000;

}  // namespace udisks

// Asks udisks2 on bus (the system bus on a desktop) for a read-only
// descriptor of the block device. Returns the descriptor, which the caller
// then owns, or -1 with why saying what failed ("udisks2 is not running",
// "udisks2 refused: Not authorized to perform operation"). Window events are
// handled while the user answers the prompt.
int OpenThroughUDisks(const std::string& devicePath, const QDBusConnection& bus, std::string& why);

}  // namespace mendrake
