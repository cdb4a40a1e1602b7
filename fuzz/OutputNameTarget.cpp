#include "fuzz/FuzzTargets.h"
#include "fuzz/Invariant.h"
#include "output/OutputNames.h"

#include <string>
#include <string_view>

namespace mendrake::fuzz {
namespace {

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool StartsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }

std::string_view Separators(PathStyle style) { return style == PathStyle::kWindows ? "\\/:" : "/"; }

// Everything up to and including the last separator.
std::string_view Folder(std::string_view path, PathStyle style) {
  const std::size_t last = path.find_last_of(Separators(style));
  return last == std::string_view::npos ? std::string_view{} : path.substr(0, last + 1);
}

void CheckExtension(std::string_view path, PathStyle style) {
  const std::string_view extension = FileExtension(path, style);
  if (extension.empty()) {
    if (path.substr(Folder(path, style).size()).find('.') != std::string_view::npos) Broken("a dot in the file name missed");
    return;
  }
  if (extension.front() != '.') Broken("an extension without its dot");
  if (extension.find_first_of(Separators(style)) != std::string_view::npos) Broken("an extension across a folder");
  if (extension.find('.', 1) != std::string_view::npos) Broken("an extension from before the last dot");
  if (!EndsWith(path, extension)) Broken("an extension that does not end the path");
}

void CheckRepairedName(std::string_view target, PathStyle style) {
  const std::string name = OutputNameForRepaired(target, style);
  if (target.empty()) {
    if (!name.empty()) Broken("a repaired name for no target");
    return;
  }
  // The whole chosen name, "_repaired", the extension again: never the chosen name itself.
  if (name == target) Broken("the repaired copy named as the chosen file");
  if (name != std::string(target) + "_repaired" + std::string(FileExtension(target, style))) Broken("repaired name rule");
  if (Folder(name, style) != Folder(target, style)) Broken("the repaired copy left the chosen folder");
}

void CheckThumbnailName(std::string_view source, PathStyle style) {
  const std::string name = OutputNameForThumbnail(source, style);
  if (source.empty()) {
    if (!name.empty()) Broken("a thumbnail name for no source");
    return;
  }
  const std::string_view extension = FileExtension(source, style);
  if (!EndsWith(name, ".jpg")) Broken("a thumbnail name not ending in .jpg");
  if (!StartsWith(name, source.substr(0, source.size() - extension.size()))) Broken("a thumbnail name off its source's stem");
  if (name.size() != source.size() - extension.size() + 4) Broken("a thumbnail name of the wrong length");
  if (Folder(name, style) != Folder(source, style)) Broken("the thumbnail left its source's folder");
  if (FileExtension(name, style) != ".jpg") Broken("the thumbnail's own extension is not .jpg");
}

}  // namespace

void CheckOutputNames(const std::uint8_t* data, std::size_t size) {
  const std::string_view path(reinterpret_cast<const char*>(data), size);
  for (const PathStyle style : {PathStyle::kPosix, PathStyle::kWindows}) {
    CheckExtension(path, style);
    CheckRepairedName(path, style);
    CheckThumbnailName(path, style);
  }
}

}  // namespace mendrake::fuzz
