#include "analysis/FileImage.h"
#include "analysis/LogBox.h"
#include "analysis/SizeSearch.h"
#include "tests/support/CrwBuilder.h"

#include <gtest/gtest.h>

namespace mendrake::testing {

TEST(CameraFile, BothByteOrdersRepairWithJunk) {
  for (bool bigEndian : {false, true}) {
    CameraFileOptions options;
    options.bigEndian = bigEndian;
    Bytes file = MakeCameraFile(options);
    const auto trueSize = static_cast<std::int64_t>(file.size());
    AppendJunk(file, JunkKind::kRandom, 5000);
    const std::string path = ::testing::TempDir() + "/smoke.crw";
    WriteFile(path, file);
    AnalysisState state;
    LogLines log;
    HeadlessPlatform platform;
    RepairContext context{state, log, platform};
    FileImage image;
    ASSERT_TRUE(RepairFile(context, image, path));
    EXPECT_EQ(state.FFilesize, trueSize);
    for (const auto& line : log.Lines()) std::printf("%s\n", line.c_str());
  }
}

}  // namespace mendrake::testing
