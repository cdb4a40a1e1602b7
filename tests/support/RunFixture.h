#pragma once

#include "analysis/FileImage.h"
#include "analysis/LogBox.h"
#include "analysis/RepairContext.h"
#include "analysis/SizeSearch.h"
#include "repair/RepairRun.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/ScriptedPlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace mendrake::testing {

// A scratch folder, an analysis context with a scripted platform, and CRW
// files made on demand: a camera-shaped file with a real JPEG thumbnail.
class RunFixture : public ::testing::Test {
 protected:
  struct Source {
    std::string path;
    Bytes bytes;
    std::size_t trueSize;
    Bytes thumbnail;
  };

  // thumbnailWidth 0 makes a file without a thumbnail record.
  Source WriteCameraFile(const std::string& name, std::size_t junk = 1000, int thumbnailWidth = 64) {
    CameraFileOptions options;
    options.hasThumbnail = thumbnailWidth > 0;
    if (options.hasThumbnail) options.thumbnail = MakeJpeg(thumbnailWidth, 48);
    Source source{folder / name, MakeCameraFile(options), 0, options.thumbnail};
    source.trueSize = source.bytes.size();
    AppendJunk(source.bytes, JunkKind::kRandom, junk);
    WriteFile(source.path, source.bytes);
    return source;
  }

  // Writes the file and analyses it, as a run does for one file.
  Source AnalyseCameraFile(const std::string& name, std::size_t junk = 1000) {
    Source source = WriteCameraFile(name, junk);
    FileImage image;
    EXPECT_TRUE(RepairFileOfRun(context, image, source.path));
    EXPECT_EQ(state.FFilesize, static_cast<std::int64_t>(source.trueSize));
    return source;
  }

  bool Logged(const std::string& line) const {
    const auto& lines = log.Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  ScratchFolder folder;
  AnalysisState state;
  LogLines log;
  ScriptedPlatform platform;
  RepairContext context{state, log, platform};
};

}  // namespace mendrake::testing
