#pragma once

// The report page of a run: one HTML file showing its figures, plot and video.

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "sim/RunLog.h"

namespace velmora {
namespace sim {

/// What the report page shows besides the run's figures.
struct ReportPageContent {
  std::string title;      ///< heading of the page
  std::string plot_svg;   ///< the plot, placed inline: an `<svg ...>` document
  std::string plot_file;  ///< the plot's file, relative to the page (linked); empty for none
  /// The run's video, relative to the page (or absolute); empty when none was recorded.
  std::string video_file;
  std::vector<std::string> command_line;  ///< the program's arguments, its name first
  std::vector<std::pair<std::string, std::string>> robot_files;  ///< (role, path)
};

/// Writes the report page: the summary table (summaryRows), the command line, the robot files,
/// the video in a `<video>` element when there is one and the plot inline. Self-contained apart
/// from the video and the linked plot, which it names by relative URL; no network access. Every
/// inserted text is escaped.
/// @throws std::invalid_argument when `content.plot_svg` is not an `<svg` document.
void writeReportHtml(const RunReport& report, const ReportPageContent& content, std::ostream& out);

/// `args` as one line a POSIX shell reads back into the same arguments (single-quoted where
/// needed).
std::string shellCommandLine(const std::vector<std::string>& args);

}  // namespace sim
}  // namespace velmora
