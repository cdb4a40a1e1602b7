#include "analysis/HeaderCheck.h"

#include "analysis/ByteOrder.h"

#include <cstring>

namespace mendrake {

bool CheckHeader(AnalysisState& state, FileImage& image) {
  constexpr std::int64_t kHeaderBytes = 14;
  std::uint8_t header[kHeaderBytes];
  image.SetPosition(0);
  if (image.Read(header, kHeaderBytes) < kHeaderBytes) return false;

  const bool intel = header[0] == 'I' && header[1] == 'I';
  const bool motorola = header[0] == 'M' && header[1] == 'M';
  if (!intel && !motorola) return false;
  if (std::memcmp(header + 6, "HEAPCCDR", 8) != 0) return false;

  state.BigEndian = motorola;
  state.HLen = LoadDWord(header + 2, motorola);
  return true;
}

}  // namespace mendrake
