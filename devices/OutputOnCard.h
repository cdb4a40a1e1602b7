#pragma once

#include <optional>
#include <string>

namespace mendrake {

// Said when the output folder lies on the card being read.
inline constexpr char kOutputOnCardMessage[] =
    "The output folder is on the card being recovered: writing there would overwrite photos not yet found. "
    "Choose a folder on another drive.";

// Where the output folder would be written onto the card being read, the
// device written to ("/dev/sdb1"); nothing when it would not. The card is
// the device named by source and every partition of it, or, for an image
// file, the loop devices bound to that file and their partitions. The
// folder is on the card when its file system's device is one of them, when
// the mount that holds it has one of them as its source, or when it lies in
// a loop device whose backing file is on the card. A folder not yet made is
// judged by the nearest folder above it that exists. Nothing is opened or
// written: it can be asked before anything else is done.
std::optional<std::string> OutputFolderOnCard(const std::string& source, const std::string& outputFolder);

// Throws FileError naming the folder, with kOutputOnCardMessage as its
// reason, when the output folder lies on the card being read.
void RefuseOutputOnCard(const std::string& source, const std::string& outputFolder);

}  // namespace mendrake
