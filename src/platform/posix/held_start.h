#pragma once

// What a program's start and the holder (selvatro-hold) share: the records that tell the starting process how a
// start went, and how the holder is called. Plain C++ and POSIX only, since the holder links nothing else.

namespace selvatro::platform::posix::held {

/// The children's reports through the report pipe, one fixed-size record each. Records are far below PIPE_BUF, so
/// each arrives whole even when two processes write. The pipe is closed on exec: its end of file after no failure
/// means that the program runs.
enum class ReportKind : int { ProgramId = 1, Failure = 2, FolderFailure = 3, Released = 4 };
struct Report {
    ReportKind kind;
    int value;  ///< a process id, or the errno of a failure
};

/// The holder finds its release channel and the report pipe's writing end at these descriptors.
inline constexpr int kReleaseFd = 3;
inline constexpr int kReportFd = 4;

/// The holder's command line: `selvatro-hold PROTOCOL HOLD_MS FOLDER PROGRAM [ARGUMENT...]`. It waits up to HOLD_MS
/// for one byte on its release channel and then, having said Released, enters FOLDER (when not empty) and execs
/// PROGRAM with PROGRAM and the ARGUMENTs as its arguments. At the channel's end of file, or when its time is up, it
/// ends without exec and without a word.
///
/// PROTOCOL names this contract. A Selvatro that runs on through an upgrade calls the new holder with its own; a
/// holder that does not know it ends at once without running anything, and the program is then started at its
/// instant as an unannounced one. Any change to the records or the command line takes a new PROTOCOL.
inline constexpr char kProtocol[] = "1";
inline constexpr int kHolderArguments = 5;  ///< the holder's own name, PROTOCOL, HOLD_MS, FOLDER and PROGRAM

}  // namespace selvatro::platform::posix::held
