#include "app/Banner.h"

namespace mendrake {
namespace {

constexpr std::string_view kBorder = "+---------------------------------------------------------------------+";
constexpr std::string_view kTitle = "| Mendrake - Repair, Views, and Extracts (c) The Mendrake developers  |";

static_assert(kBorder.size() == 71);
static_assert(kTitle.size() == kBorder.size(), "the title line must be as wide as the border");
static_assert(kTitle.starts_with("| Mendrake - Repair, Views, and Extracts ") && kTitle.ends_with(" |"));

}  // namespace

const std::array<std::string_view, 3>& BannerLines() {
  static constexpr std::array<std::string_view, 3> kLines{kBorder, kTitle, kBorder};
  return kLines;
}

const std::array<std::string_view, 12>& HelpLines() {
  static constexpr std::array<std::string_view, 12> kLines{
      "",
      " Mendrake will repair the filesize of a CRW file,",
      " as well as extract the JPEG images if available.",
      " 1) Click \"Repair/Open\".",
      " 2) Select the file you want to repair or open.",
      "    The details of the file will appear in this box, and",
      "    the JPEG thumbnail in the image panel.",
      " 3) Click \"Save\" to save the repaired CRW file or",
      "    click \"Save JPEG\" to just save the JPEG image.",
      "",
      "If multiple files are selected from the Open dialog, then",
      "the files will automatically be repaired and JPEG files saved.",
  };
  return kLines;
}

}  // namespace mendrake
