#include "output/OutputNames.h"

namespace mendrake {
namespace {

constexpr std::string_view kRepairedSuffix = "_repaired";
constexpr std::string_view kThumbnailExtension = ".jpg";

std::string_view FolderEnds(PathStyle style) { return style == PathStyle::kWindows ? "\\/:" : "/"; }

std::size_t FileNameStart(std::string_view path, PathStyle style) {
  const std::size_t lastSeparator = path.find_last_of(FolderEnds(style));
  return lastSeparator == std::string_view::npos ? 0 : lastSeparator + 1;
}

}  // namespace

std::string_view FileExtension(std::string_view path, PathStyle style) {
  const std::string_view fileName = path.substr(FileNameStart(path, style));
  const std::size_t dot = fileName.rfind('.');
  return dot == std::string_view::npos ? std::string_view{} : fileName.substr(dot);
}

std::string OutputNameForRepaired(std::string_view target, PathStyle style) {
  if (target.empty()) return {};
  std::string name(target);
  name += kRepairedSuffix;
  name += FileExtension(target, style);
  return name;
}

std::string OutputNameForThumbnail(std::string_view source, PathStyle style) {
  if (source.empty()) return {};
  std::string name(source.substr(0, source.size() - FileExtension(source, style).size()));
  name += kThumbnailExtension;
  return name;
}

}  // namespace mendrake
