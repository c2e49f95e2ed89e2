// Files of our own in the application's private temporary folder ($ZORVIK_TEMP, else
// zorvik-<uid> under $TMPDIR or /tmp): unnamed, so that no other process can reach them and
// they go when closed, however the process ends.
#pragma once

#include <string>

#include "zorvik/runtime/unique_fd.h"

namespace Zorvik::Cli {

// Open for reading and writing; raises std::system_error when none can be made.
zorvik::rt::unique_fd NewTemporaryFile();

// Everything input gives until its end, in a new temporary file positioned at its start: a pipe
// read into a file the component can seek in. Ctrl-C ends the reading (CommandError,
// interrupted, about name); a read failure raises std::system_error.
zorvik::rt::unique_fd CopyToTemporaryFile(int input, const std::string& name);

}  // namespace Zorvik::Cli
