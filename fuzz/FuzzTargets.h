#pragma once

#include <cstddef>
#include <cstdint>

// The fuzz targets' entry functions. libFuzzer calls them through
// LibFuzzerEntry.cpp; the corpus replay among the tests calls them directly on
// every committed input. Each aborts when it sees a broken invariant.
namespace mendrake::fuzz {

// The bytes as a whole file: header check and size search, bounds in force.
void AnalyseFileBytes(const std::uint8_t* data, std::size_t size);

// The bytes as a thumbnail: the JPEG decoder, and the preview of a run's image.
void DecodePreviewBytes(const std::uint8_t* data, std::size_t size);

// The bytes as a card: its recovery into a folder of its own, every file
// written as a CRW standing alone, nothing outside the folder, work bounded.
void RecoverCardBytes(const std::uint8_t* data, std::size_t size);

// The bytes as the options of a card a camera filled (CameraCard.h): its
// recovery writes no CRW file but the photos shot on it.
void RecoverCameraCardBytes(const std::uint8_t* data, std::size_t size);

// The bytes as a candidate CRW file: its raw data decoded, whole and fed in
// stretches through copies of the decoder's state, to the same end.
void CheckRawDataBytes(const std::uint8_t* data, std::size_t size);

// The bytes as a path: the extension and the two output-name rules, in both
// path styles.
void CheckOutputNames(const std::uint8_t* data, std::size_t size);

// The bytes as a ddrescue mapfile beside a card's image: read, it covers the
// card in areas that follow one another, and what it writes reads back alike.
void ParseMapfileBytes(const std::uint8_t* data, std::size_t size);

}  // namespace mendrake::fuzz
