#include "analysis/LogBox.h"

namespace mendrake {

void CappedLog::Append(std::string_view line) {
  if (remaining_ > 0) {
    --remaining_;
    log_.Append(line);
  } else if (!omissionReported_) {
    omissionReported_ = true;
    log_.Append(kOmittedLine);
  }
}

}  // namespace mendrake
