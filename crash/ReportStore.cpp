#include "crash/ReportStore.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace mendrake::crash {
namespace fs = std::filesystem;
namespace {

constexpr char kSuffix[] = ".txt";
constexpr char kUnshownSuffix[] = ".unshown";

std::vector<fs::path> Reports(const fs::path& folder) {
  std::vector<fs::path> reports;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file(error) && name.front() != '.' && entry.path().extension() == kSuffix) {
      reports.push_back(entry.path());
    }
  }
  // Names are dates and times: their order is the order of writing.
  std::sort(reports.begin(), reports.end());
  return reports;
}

fs::path UnshownMarker(const fs::path& report) { return fs::path(report.string() + kUnshownSuffix); }

std::string NameFor(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char name[32];
  std::strftime(name, sizeof name, "%Y-%m-%d_%H-%M-%S", &local);
  return name;
}

}  // namespace

fs::path ReportFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  fs::path base;
  if (state != nullptr && state[0] == '/') {
    base = state;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home != nullptr ? home : "/tmp") / ".local" / "state";
  }
  return base / "mendrake" / "crash-reports";
}

fs::path SaveReport(const fs::path& folder, std::string_view text, std::time_t when, bool unshown) {
  fs::create_directories(folder);
  const std::string stem = NameFor(when);
  fs::path path = folder / (stem + kSuffix);
  for (int n = 2; fs::exists(path); ++n) path = folder / (stem + "_" + std::to_string(n) + kSuffix);
  {
    std::ofstream out(path, std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) {
      throw fs::filesystem_error("cannot write the report", path, std::make_error_code(std::errc::io_error));
    }
  }
  if (unshown) std::ofstream(UnshownMarker(path)).flush();

  std::vector<fs::path> reports = Reports(folder);
  std::error_code ignored;
  for (std::size_t i = 0; i + kReportsKept < reports.size(); ++i) {
    fs::remove(reports[i], ignored);
    fs::remove(UnshownMarker(reports[i]), ignored);
  }
  return path;
}

std::vector<fs::path> UnshownReports(const fs::path& folder) {
  std::vector<fs::path> unshown;
  std::error_code error;
  for (const fs::path& report : Reports(folder)) {
    if (fs::exists(UnshownMarker(report), error)) unshown.push_back(report);
  }
  return unshown;
}

void MarkShown(const fs::path& report) {
  std::error_code ignored;
  fs::remove(UnshownMarker(report), ignored);
}

std::vector<ReportSection> SplitReport(std::string_view report) {
  // A section starts with its title on a line of its own, underlined with '='.
  std::vector<ReportSection> sections;
  std::size_t at = 0;
  std::string_view previous;
  while (at < report.size()) {
    std::size_t end = report.find('\n', at);
    if (end == std::string_view::npos) end = report.size();
    const std::string_view line = report.substr(at, end - at);
    if (!previous.empty() && line.size() == previous.size() && line.find_first_not_of('=') == std::string_view::npos) {
      if (!sections.empty()) {
        std::string& text = sections.back().text;
        text.erase(text.size() - std::min(text.size(), previous.size() + 1));
      }
      sections.push_back({std::string(previous), {}});
    } else if (!sections.empty()) {
      sections.back().text.append(line).append("\n");
    }
    previous = line;
    at = end + 1;
  }
  for (ReportSection& section : sections) {
    while (!section.text.empty() && section.text.back() == '\n') section.text.pop_back();
    while (!section.text.empty() && section.text.front() == '\n') section.text.erase(0, 1);
  }
  return sections;
}

}  // namespace mendrake::crash
