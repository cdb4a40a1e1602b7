#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace mendrake::crash {

// Reports are kept as plain files, one per report, named by local date and time.
constexpr std::size_t kReportsKept = 20;

// $XDG_STATE_HOME/mendrake/crash-reports, or ~/.local/state/mendrake/crash-reports.
std::filesystem::path ReportFolder();

// Writes a report into the folder (created as needed) under a name made of
// the date and time, removes the oldest beyond the newest kReportsKept, and
// returns the report's path. An unshown report waits for the window's next
// start. Throws std::filesystem::filesystem_error when it cannot be written.
std::filesystem::path SaveReport(const std::filesystem::path& folder, std::string_view text, std::time_t when,
                                 bool unshown);

// The reports not yet shown, oldest first; MarkShown takes one off that list.
std::vector<std::filesystem::path> UnshownReports(const std::filesystem::path& folder);
void MarkShown(const std::filesystem::path& report);

// A report's sections, in order, each with its title and text.
struct ReportSection {
  std::string title;
  std::string text;
};
std::vector<ReportSection> SplitReport(std::string_view report);

}  // namespace mendrake::crash
