#include "fuzz/FuzzTargets.h"
#include "fuzz/Invariant.h"
#include "recovery/CanonRawDecoder.h"
#include "recovery/CanonRawLayout.h"
#include "recovery/RawDataCheck.h"

#include <algorithm>
#include <span>

namespace mendrake::fuzz {

void CheckRawDataBytes(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  const RawDataCheck check = CheckRawData(file);
  const auto end = static_cast<std::int64_t>(size);
  if (check.reason.empty()) Broken("a raw data verdict without a reason");
  if (check.verdict != RawDataVerdict::Unknown && (check.signalFrom < 0 || check.signalFrom > end)) {
    Broken("the stream begins outside the file");
  }
  if (check.verdict == RawDataVerdict::Broken && (check.brokenAt < check.signalFrom || check.brokenAt > end)) {
    Broken("the decode broke outside its stream");
  }
  std::string whyNot;
  const std::optional<CanonRawLayout> layout = ReadCanonRawLayout(file, whyNot);
  if (layout.has_value() == (check.verdict == RawDataVerdict::Unknown)) Broken("a layout and an Unknown verdict");
  if (!layout) return;
  if (layout->recordStart < 0 || layout->RecordEnd() > end) Broken("a raw data record outside the file");

  // Fed in stretches of every length, through copies taken between them, the
  // decode ends as the whole file's does.
  CanonRawDecoder whole(*layout);
  whole.Feed(file);
  CanonRawDecoder stretched(*layout);
  std::size_t at = 0;
  for (std::size_t length = 1; at < size; length = length * 3 + 1) {
    const std::size_t n = std::min(length, size - at);
    CanonRawDecoder copy = stretched;
    copy.Feed(file.subspan(at, n));
    stretched = copy;
    at += n;
  }
  if (stretched.Broken() != whole.Broken() || stretched.Complete() != whole.Complete() ||
      stretched.BrokenAt() != whole.BrokenAt() || stretched.ValuesDecoded() != whole.ValuesDecoded()) {
    Broken("the decode fed in stretches differs from the whole file's");
  }
  if (whole.Complete() != (check.verdict == RawDataVerdict::Plausible)) Broken("a complete decode that is not plausible");
  if (whole.Broken() && (whole.EarliestSplice() < layout->StreamStart() || whole.EarliestSplice() > whole.BrokenAt())) {
    Broken("the earliest splice lies outside the stream before the break");
  }
}

}  // namespace mendrake::fuzz
