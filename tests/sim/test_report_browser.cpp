// The report page as a headless chromium renders it: a screenshot whose known regions show the
// summary table (dark text on a light background) and the plot (coloured lines).

#include <png.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/ScenarioRunner.h"

namespace velmora::sim {
namespace {

TEST(ReportPageInBrowser, ShowsTheSummaryTableAndThePlot) {
  if (std::system("command -v chromium > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "chromium (Debian package chromium) is not installed: page not rendered";
  }
  const auto dir =
      std::filesystem::temp_directory_path() / ("velmora_page_" + std::to_string(getpid()));
  RunResult run;
  run.samples = test::syntheticRun(0.4, 0.0, 0.2, 0.01, 10.0, vector3_t(0.5, 0.0, 0.3));
  run.report = summarizeMotion(run.samples, false);
  writeRunFiles(run, SimOptions{}, dir.string(), {"velmora_sim", "--scenario", "turn"});
  const std::string shot = (dir / "shot.png").string();
  const std::string command =
      "timeout 120 chromium --headless --no-sandbox --disable-gpu "
      "--hide-scrollbars --user-data-dir=" +
      (dir / "profile").string() + " --screenshot=" + shot + " --window-size=1400,1000 file://" +
      (dir / "report.html").string() + " > " + shot + ".log 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << "see " << shot << ".log";
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, shot.c_str())) << shot;
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << image.message;
  ASSERT_EQ(rgb.size(), 1400u * 1000u * 3u);
  // Fractions of the pixels of [x0, x1) × [y0, y1) that are dark text (luminance below 110),
  // light background (above 230) and coloured strokes (channels more than 80 apart).
  const auto fractions = [&rgb](int x0, int y0, int x1, int y1) {
    std::array<double, 3> counts{};
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        const png_byte* p = &rgb[3 * (static_cast<size_t>(y) * 1400 + x)];
        counts[0] += 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2] < 110;
        counts[1] += 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2] > 230;
        counts[2] += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 80;
      }
    }
    for (double& c : counts) c /= static_cast<double>((x1 - x0) * (y1 - y0));
    return counts;
  };
  // The summary table fills the left column (380 px from x = 24) below the headings.
  const auto table = fractions(40, 110, 380, 440);
  EXPECT_TRUE(table[0] > 0.02 && table[0] < 0.4) << "text fraction " << table[0];
  EXPECT_GT(table[1], 0.5) << "the table region is not on a light background";
  EXPECT_LT(table[2], 0.002) << "coloured strokes in the table region";
  // The plot fills the right column: coloured lines.
  EXPECT_GT(fractions(500, 150, 1360, 950)[2], 0.01) << "too few coloured strokes in the plot";
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace velmora::sim
