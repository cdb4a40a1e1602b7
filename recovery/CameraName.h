#pragma once

#include <string>

namespace mendrake {

// The camera as the recovery names it: "Canon EOS D30" from make "Canon" and
// model "EOS D30", but the model alone where it begins with the make, as
// cameras often store it ("Canon" and "Canon EOS DIGITAL REBEL"). Either may
// be empty.
std::string CameraName(const std::string& make, const std::string& model);

}  // namespace mendrake
