#include "sim/ReportPage.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "sim/MarkupEscape.h"

namespace velmora {
namespace sim {
namespace {

/// `path` as a relative URL: every byte outside the unreserved set and '/' percent-encoded.
std::string urlOfPath(const std::string& path) {
  std::string url;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
      url += c;
    } else {
      char encoded[4];
      std::snprintf(encoded, sizeof(encoded), "%%%02X", byte);
      url += encoded;
    }
  }
  return url;
}

constexpr const char* kStyle = R"(
body { margin: 0; padding: 16px 24px; font-family: sans-serif; background: #fff; color: #111; }
h1 { font-size: 20px; margin: 0 0 12px; }
h2 { font-size: 15px; margin: 18px 0 6px; }
.layout { display: flex; gap: 24px; align-items: flex-start; }
.side { flex: 0 0 380px; }
.main { flex: 1 1 auto; min-width: 0; }
table { border-collapse: collapse; font-size: 14px; width: 100%; }
th, td { text-align: left; padding: 3px 8px; border-bottom: 1px solid #ddd; vertical-align: top; }
td.value { font-family: monospace; overflow-wrap: anywhere; }
.fell { color: #b00; font-weight: bold; }
.upright { color: #060; font-weight: bold; }
pre { white-space: pre-wrap; overflow-wrap: anywhere; background: #f4f4f4; padding: 8px;
      font-size: 13px; margin: 0; }
svg { max-width: 100%; height: auto; display: block; }
video { max-width: 100%; display: block; }
)";

}  // namespace

std::string shellCommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += ' ';
    const bool plain = !arg.empty() && arg.find_first_not_of(
                                           "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                           "0123456789-_./=:@,+%") == std::string::npos;
    if (plain) {
      line += arg;
      continue;
    }
    line += '\'';
    for (const char c : arg) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += '\'';
  }
  return line;
}

void writeReportHtml(const RunReport& report, const ReportPageContent& content, std::ostream& out) {
  if (content.plot_svg.compare(0, 4, "<svg") != 0) {
    throw std::invalid_argument(
        "writeReportHtml: the plot is not an SVG document (it starts with '" +
        content.plot_svg.substr(0, 20) + "')");
  }
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
      << escapeMarkup(content.title) << "</title>\n<style>" << kStyle << "</style>\n</head>\n"
      << "<body>\n<h1>" << escapeMarkup(content.title) << " &mdash; "
      << (report.fell ? "<span class=\"fell\">fell</span>"
                      : "<span class=\"upright\">did not fall</span>")
      << "</h1>\n<div class=\"layout\">\n<section class=\"side\">\n<h2>Summary</h2>\n"
      << "<table id=\"summary\">\n<tr><th>figure</th><th>value</th></tr>\n";
  for (const auto& row : summaryRows(report)) {
    out << "<tr><td>" << escapeMarkup(row.first) << "</td><td class=\"value\">"
        << escapeMarkup(row.second) << "</td></tr>\n";
  }
  out << "</table>\n<h2>Command line</h2>\n<pre id=\"command\">"
      << escapeMarkup(shellCommandLine(content.command_line)) << "</pre>\n"
      << "<h2>Robot files</h2>\n<table id=\"robot_files\">\n";
  for (const auto& file : content.robot_files) {
    out << "<tr><td>" << escapeMarkup(file.first) << "</td><td class=\"value\">"
        << (file.second.empty() ? "(none)" : escapeMarkup(file.second)) << "</td></tr>\n";
  }
  out << "</table>\n</section>\n<section class=\"main\">\n";
  if (!content.video_file.empty()) {
    out << "<h2>Video</h2>\n<video id=\"video\" controls preload=\"metadata\" src=\""
        << escapeMarkup(urlOfPath(content.video_file)) << "\">the video: <a href=\""
        << escapeMarkup(urlOfPath(content.video_file)) << "\">" << escapeMarkup(content.video_file)
        << "</a></video>\n";
  }
  out << "<h2>Plot";
  if (!content.plot_file.empty()) {
    out << " (<a href=\"" << escapeMarkup(urlOfPath(content.plot_file)) << "\">"
        << escapeMarkup(content.plot_file) << "</a>)";
  }
  out << "</h2>\n<div id=\"plot\">\n"
      << content.plot_svg << "</div>\n</section>\n</div>\n"
      << "</body>\n</html>\n";
}

}  // namespace sim
}  // namespace velmora
