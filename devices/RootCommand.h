#pragma once

#include <string>

namespace mendrake {

// The command that recovers a card as root, for a user who may not read its
// device: "sudo crwlog --recover /dev/sdb '/home/ann/Pictures/Recovered from
// EOS_DIGITAL 2026-12-09'". Names are quoted for the shell where they need it.
// On Windows the command for an administrator prompt:
// "crwlog --recover E: "C:\Users\ann\Pictures\Recovered"".
std::string RecoverAsRootCommand(const std::string& device, const std::string& outputFolder);

// The line that tells a user who may not read the card how to read it: as
// root on Linux, from an administrator prompt on Windows.
std::string ReadAccessAdvice(const std::string& device, const std::string& outputFolder);

}  // namespace mendrake
