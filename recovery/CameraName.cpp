#include "recovery/CameraName.h"

#include <algorithm>
#include <cctype>

namespace mendrake {

std::string CameraName(const std::string& make, const std::string& model) {
  if (make.empty()) return model;
  if (model.empty()) return make;
  const auto sameLetter = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  // The make as a whole word at the model's front: "Canonet" is a model of its own.
  const bool modelNamesMake = model.size() >= make.size() &&
                              (model.size() == make.size() || model[make.size()] == ' ') &&
                              std::equal(make.begin(), make.end(), model.begin(), sameLetter);
  return modelNamesMake ? model : make + " " + model;
}

}  // namespace mendrake
