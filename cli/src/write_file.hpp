// Writing a whole text to the file a user names, as a lock file is
// committed: a regular file is replaced at once, never seen half written.
#pragma once

#include <functional>
#include <string>

namespace mirtle_cli {

// Writes `text` to `path`, "-" being standard output.  A regular file, or
// a new one, is replaced by a temporary file made exclusively in its
// directory, written, synced and given the old file's mode (and owner
// where it can); a symbolic link to a regular file has its target
// replaced.  Anything else (a FIFO, a device, standard output named as
// /dev/stdout) is written in place, never replaced.  On failure complains,
// naming `path`, leaves no temporary file and returns false; a reader that
// closed a pipe early is no failure.
bool write_file(const std::string& path, std::string text);

class Output;
// The same with the text made while it is written: `produce` appends to
// the Output it is given, flushing as it goes, and returns false, having
// complained, when it cannot complete the text; then nothing is replaced.
bool write_file(const std::string& path, const std::function<bool(Output&)>& produce);

}  // namespace mirtle_cli
