#include "write_file.hpp"

#include <functional>
#include <utility>

#include "common.hpp"
#include "output.hpp"
#include "platform/platform.hpp"

namespace mirtle_cli {

namespace {

bool fail(const std::string& name, platform::Error error) {
  complain(name + ": " + platform::describe(error));
  return false;
}

using Producer = std::function<bool(Output&)>;

// Writes what `produce` makes through `file`, which the caller closes.
bool write_through(platform::File file, const std::string& name, const Producer& produce) {
  Output out(std::move(file), name);
  const bool made = produce(out);
  return finish(out) == kSuccess && made;
}

bool write_in_place(const std::string& path, bool truncate, const Producer& produce) {
  platform::File file;
  if (const platform::Error e = platform::open_in_place(path, truncate, file)) return fail(path, e);
  const bool written = write_through(file.view(), path, produce);
  if (const platform::Error e = file.close(); e && written) return fail(path, e);
  return written;
}

// Replaces the regular file `target` (or makes it); messages name the file
// `name` the user gave.
bool replace(const std::string& target, const std::string& name, const Producer& produce) {
  platform::TemporaryFile temporary(target);
  if (temporary.error()) return fail(name, temporary.error());
  Output out(temporary.file().view(), name);
  if (!produce(out)) return false;
  if (!out.flush()) {
    complain(out.failure());
    return false;
  }
  if (const platform::Error e = temporary.commit()) return fail(name, e);
  return true;
}

}  // namespace

bool write_file(const std::string& path, std::string text) {
  return write_file(path, [&text](Output& out) {
    out.buffer().swap(text);
    return true;
  });
}

bool write_file(const std::string& path, const Producer& produce) {
  const platform::File standard_output = platform::File::standard(platform::Stream::output);
  if (path == "-") return write_through(standard_output.view(), "standard output", produce);
  platform::Destination destination;
  if (const platform::Error e = platform::find_destination(path, destination)) return fail(path, e);
  switch (destination.kind) {
    case platform::Destination::standard_output: return write_through(standard_output.view(), path, produce);
    case platform::Destination::in_place: return write_in_place(path, destination.truncate, produce);
    case platform::Destination::replace: break;
  }
  return replace(destination.file, path, produce);
}

}  // namespace mirtle_cli
