#include "tests/support/FatCard.h"

#include "cardfs/BootSector.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <stdexcept>

namespace mendrake::testing {
namespace {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

void Run(const std::string& command) {
  // mtools would otherwise ask about a geometry it finds odd.
  const std::string quiet = "MTOOLS_SKIP_CHECK=1 " + command + " >/dev/null 2>&1";
  if (std::system(quiet.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

std::string Output(const std::string& command) {
  const std::string quiet = "MTOOLS_SKIP_CHECK=1 " + command + " 2>/dev/null";
  FILE* pipe = popen(quiet.c_str(), "r");
  if (!pipe) throw std::runtime_error("failed: " + command);
  std::string text;
  char chunk[256];
  while (std::fgets(chunk, sizeof chunk, pipe)) text += chunk;
  pclose(pipe);
  return text;
}

FatVolume VolumeOf(const std::string& path) {
  const Bytes sector = Prefix(ReadFile(path), kBootSectorBytes);
  const auto volume = ReadBootSector(sector.data(), 0);
  if (!volume) throw std::runtime_error("no boot sector in " + path);
  return *volume;
}

}  // namespace

FatCard::FatCard(std::string path, std::string scratchFolder, int mib, int sectorsPerCluster)
    : path_(std::move(path)), scratch_(std::move(scratchFolder)), sectorsPerCluster_(sectorsPerCluster) {
  std::filesystem::remove(path_);
  Run("mkfs.vfat -C -F 16 -s " + std::to_string(sectorsPerCluster) + " " + Quoted(path_) + " " +
      std::to_string(mib * 1024));
}

void FatCard::Write(const std::string& name, const Bytes& bytes) {
  const std::string staged = (std::filesystem::path(scratch_) / name).string();
  WriteFile(staged, bytes);
  Run("mcopy -i " + Quoted(path_) + " " + Quoted(staged) + " ::" + name);
  std::filesystem::remove(staged);
}

void FatCard::Delete(const std::string& name) { Run("mdel -i " + Quoted(path_) + " ::" + name); }

void FatCard::QuickFormat() {
  Run("mkfs.vfat -F 16 -s " + std::to_string(sectorsPerCluster_) + " " + Quoted(path_));
}

std::vector<std::pair<int, int>> FatCard::Runs(const std::string& name) const {
  // mshowfat prints "::/NAME <2-51> <102-151>".
  const std::string text = Output("mshowfat -i " + Quoted(path_) + " ::" + name);
  std::vector<std::pair<int, int>> runs;
  const std::regex run("<([0-9]+)(?:-([0-9]+))?>");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), run); it != std::sregex_iterator(); ++it) {
    const int first = std::stoi((*it)[1]);
    runs.emplace_back(first, (*it)[2].matched ? std::stoi((*it)[2]) : first);
  }
  return runs;
}

std::int64_t FatCard::ClusterStart(int cluster) const {
  const FatVolume volume = VolumeOf(path_);
  return volume.dataStart + std::int64_t{cluster - 2} * volume.clusterSize;
}

std::int64_t FatCard::ClusterSize() const { return VolumeOf(path_).clusterSize; }

}  // namespace mendrake::testing
