#pragma once

#include <string>

namespace mendrake {

// Said when the image of the card would be written onto the card itself.
inline constexpr char kImageOnCardMessage[] =
    "The image would be written onto the card being recovered: writing there would overwrite photos not yet "
    "found. Choose a place on another drive.";

// Throws FileError naming the image, with kImageOnCardMessage as its reason,
// when the image is the card (its image file or device) or lies on it, as
// OutputFolderOnCard judges the folder that holds it.
void RefuseImageOnCard(const std::string& source, const std::string& imagePath);

}  // namespace mendrake
