// Writing a whole text to the file a user names, as a lock file is
// committed: a regular file is replaced at once, never seen half written.
#pragma once

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

}  // namespace mirtle_cli
