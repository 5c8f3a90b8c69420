#pragma once
// The trace log: one process-wide text file (CR LF lines), each run framed by "<*** Begin ***>"
// and "<*** End ***>". Writes are best effort: failures are swallowed, never reported.
// One lock serialises every access, so any thread may log. One run's lines are bounded (see
// SetLogRunLimits), so no flood of lines from a page or a frame loop can fill the disk.
#include <cstddef>
#include <cstdint>
#include <string>

// Every write keeps room for the run's end behind it (a write that would take it is dropped),
// so a disk that fills up cannot make a run that ended look like a crash.

// Line kinds for Log/LogCode; codes from 256 up are written as "* Msg XXXXXXXX: text".
enum : uint32_t {
  ltInfo = 1,
  ltWarning = 2,
  ltError = 3,
  ltCheckpoint = 4,
  ltNote = 5,
  ltEntering = 6,
  ltExiting = 7,
  ltSeparator = 8,
};

// Stores the log file's name and creates the file empty when it does not exist.
void SetLogFile(const std::string& fileName);
std::string LogFile();
// The most of an old log that is read or kept (default 4 MB); older lines are dropped.
void SetLogKeepBytes(std::size_t bytes);
// The most one run (from LogBegin or SetLogFile on) writes: past `cap` (default 1 MB) one
// warning says so and only warnings and errors follow; past `ceiling` (default 2 MB) one more
// warning ends the run's lines. The end of the run (LogEnd) is always written. Both stay under the
// keep size, so the next start still reads the whole run.
void SetLogRunLimits(std::size_t cap, std::size_t ceiling);
// One line of the kind, with the kind's top bit (0x80) cleared first.
void Log(const std::string& text, uint32_t kind);
// One line with the value unmasked: 1..8 the kinds, 256 and above the "Msg" form.
void LogCode(const std::string& text, uint32_t code);
// A Note line about what a page did, written the first time its kind turns up in the run; later
// ones are only counted, and LogEnd says how many were left out.
void LogPageNote(const std::string& kind, const std::string& text);
// Text without a line end; consecutive calls build one "! ... !" line, cut as one line's text is.
void LogPlain(const std::string& text);
// Cuts the file to its last run (at most the keep size) and opens a new one; the rewrite goes
// through a temporary file and a rename, and an unreadable file is never rewritten.
void LogBegin();
void LogEnd();
// True when the file shows an error line or a run that did not end.
bool LogHasErrors();
// The whole file, every line followed by CR LF; empty when it cannot be read.
std::string GetLogText();
// Rewrites the file so that LogHasErrors no longer finds the errors it holds.
void MarkLogReported();
// Logs message (+ " (context)") with the code (0: an Error line) and raises Exception(message).
[[noreturn]] void LogAndRaise(const std::string& message, uint32_t code, const std::string& context);
