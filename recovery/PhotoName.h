#pragma once

#include "analysis/CrwRecords.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace mendrake {

// The stem of a name a camera recorded ("CRW_1234" of "CRW_1234.CRW") when
// it has the camera's form: a bare file name (no folder, no drive), printable
// ASCII without the characters Windows refuses in names, not a name Windows
// keeps for a device, ending in extension (".CRW", ".THM"; any letter case).
// Empty otherwise: such a record is bytes of a damaged or crafted file, and
// no folder's name may come from it.
std::string CameraNameStem(std::string_view recorded, std::string_view extension);

// The stem a recovered photo is written under: the name the camera recorded
// in the file; else the name the card's directory entry gives it
// (directoryName, empty when none does); else its file number ("CRW_1234" of
// 1001234, as the camera numbers it); else its place on the card
// ("CRW_at_1048576").
std::string PhotoStem(const CrwRecords& records, const std::string& directoryName, std::int64_t position);

// "CRW_at_1048576": the name of a place on the card.
std::string PlaceStem(std::int64_t position);

}  // namespace mendrake
