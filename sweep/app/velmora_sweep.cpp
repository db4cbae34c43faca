// velmora_sweep: runs families of velmora_sim scenarios through GNU parallel and gathers the
// outcomes. Exit codes: 0 every run ran (falls are results), 1 some runs could not run, 2 bad
// flags, sweep file or missing program, 130 interrupted.

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "core/misc/DataDirectory.h"
#include "sweep/SweepRunner.h"

namespace {

constexpr const char* kUsage =
    "usage: velmora_sweep SWEEP_FILE|BUNDLED_NAME [--out DIR] [--jobs N] [--sim PATH] [--parallel "
    "PATH]\n"
    "                     [--sshloginfile FILE] [--dry-run]\n"
    "  --out DIR            results (default: sweep-<name of SWEEP_FILE>)\n"
    "  --jobs N             simulations at a time per machine (default: number of cores)\n"
    "  --sim PATH           simulator to run (default: the velmora_sim beside this program)\n"
    "  --parallel PATH      GNU parallel (default: parallel on PATH)\n"
    "  --sshloginfile FILE  remote machines, passed on to GNU parallel\n"
    "  --dry-run            write the run scenarios and commands.txt, run nothing\n";

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  velmora::sweep::SweepOptions options;
  const fs::path executable = velmora::currentExecutable();
  const fs::path data = velmora::dataDirectoryOf(executable)
                            .value_or(executable.parent_path() / ".." / "share" / "velmora");
  options.scenarios_dir = data / "scenarios";
  options.robots_dir = data / "robots";
  options.sim = (executable.parent_path() / "velmora_sim").string();
  options.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto next = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
      return argv[++i];
    };
    try {
      if (arg == "--help" || arg == "-h") {
        std::cout << kUsage;
        return 0;
      } else if (arg == "--out") {
        options.out_dir = next();
      } else if (arg == "--jobs") {
        const std::string value = next();
        if (value.empty() || value.size() > 6 ||
            value.find_first_not_of("0123456789") != std::string::npos || std::stoi(value) < 1)
          throw std::invalid_argument("--jobs needs a whole number >= 1, not '" + value + "'");
        options.jobs = std::stoi(value);
      } else if (arg == "--sim") {
        options.sim = next();
      } else if (arg == "--parallel") {
        options.parallel = next();
      } else if (arg == "--sshloginfile") {
        options.sshloginfile = next();
      } else if (arg == "--dry-run") {
        options.dry_run = true;
      } else if (arg.rfind("-", 0) == 0 || !options.sweep_file.empty()) {
        throw std::invalid_argument("unexpected argument '" + arg + "'");
      } else {
        options.sweep_file = arg;
      }
    } catch (const std::invalid_argument& e) {
      std::cerr << "velmora_sweep: " << e.what() << '\n' << kUsage;
      return 2;
    }
  }
  if (options.sweep_file.empty()) {
    std::cerr << "velmora_sweep: no sweep file given\n" << kUsage;
    return 2;
  }
  // A bundled sweep by name: <data>/scenarios/sweeps/NAME.info.
  const fs::path bundled =
      options.scenarios_dir / "sweeps" / (options.sweep_file.string() + ".info");
  if (!fs::exists(options.sweep_file) &&
      options.sweep_file.string().find('/') == std::string::npos && fs::exists(bundled))
    options.sweep_file = bundled;
  if (options.out_dir.empty()) options.out_dir = "sweep-" + options.sweep_file.stem().string();
  return velmora::sweep::runSweep(options, std::cout, std::cerr);
}
