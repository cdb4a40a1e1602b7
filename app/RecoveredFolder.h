#pragma once

#include <string>

namespace mendrake {

// The folder proposed for a card's photos: a new folder in the user's
// pictures folder named after the card and the day,
// "PICTURES/Recovered from EOS_DIGITAL 2026-12-09". cardName is the card's
// volume label, or for a card without one the image file's name or "card";
// a '/' it holds becomes '_'. date is "YYYY-MM-DD".
std::string DefaultRecoveredFolder(const std::string& picturesFolder, const std::string& cardName,
                                   const std::string& date);

// Where the window saves the card's image: "card.img" in the output folder
// beside the photos, or the first of "card (2).img", "card (3).img", ...
// that is free together with its mapfile, as an image is never replaced.
std::string CardImagePathIn(const std::string& folder);

}  // namespace mendrake
