#pragma once

// Runs a list of shell commands through GNU parallel and reads back its job log. Ctrl-C
// (SIGINT) or SIGTERM sent to this program stops parallel, which stops its running jobs; the
// caller learns that the run was interrupted.

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace velmora::sweep {

/// How to run GNU parallel.
struct ParallelOptions {
  std::string program = "parallel";    ///< Path of GNU parallel.
  int jobs = 1;                        ///< Jobs at a time (per machine).
  std::string sshloginfile;            ///< Passed on as --sshloginfile when not empty.
  std::filesystem::path command_file;  ///< One shell command per line.
  std::filesystem::path joblog;        ///< Written by parallel (--joblog).
};

/// How parallel ended: its exit status (the number of failed jobs, 255 and above: its own
/// error; -1 when killed by a signal) and whether a signal asked this program to stop.
struct ParallelOutcome {
  int exit_status = 0;
  bool interrupted = false;
};

/// One line of the job log: the job's exit value and the signal that killed it (0: none).
struct JobResult {
  int exit_value = 0;
  int signal = 0;
};

/// The full path of `program`: itself when it contains '/' and is executable, else the first
/// executable match on $PATH; std::nullopt when there is none.
std::optional<std::string> findProgram(const std::string& program);

/// True when `program --version` says it is GNU parallel (moreutils has another `parallel`).
bool isGnuParallel(const std::string& program);

/// `text` quoted for a POSIX shell (single quotes).
std::string shellQuote(const std::string& text);

/// Starts parallel on `options.command_file` and waits for it and for every process it started
/// (this process becomes their subreaper and reaps all its children; those still running 5 s
/// after parallel ended are killed); forwards SIGINT and SIGTERM received meanwhile to
/// parallel. @throws std::runtime_error when parallel cannot be started.
ParallelOutcome runParallel(const ParallelOptions& options);

/// The job log's results by job sequence number (1-based line of the command file); missing
/// entries were never run. An unreadable log gives an empty map.
std::map<int, JobResult> readJoblog(const std::filesystem::path& joblog);

}  // namespace velmora::sweep
