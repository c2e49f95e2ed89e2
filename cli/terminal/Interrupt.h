// Ctrl-C, and the signals that end a process politely (SIGTERM, SIGHUP): the first one only
// raises a flag, which the running operation's callbacks read and answer with a cancel, so that
// what was half written is removed; a second one ends the process at once. SIGXFSZ is ignored:
// a write past the file size limit then fails (EFBIG) and is reported as the failure it is.
#pragma once

namespace Zorvik::Cli::Interrupt {

void Install();
bool Requested() noexcept;
// The exit status of a process ended by the signal that came: 128 + its number.
int ExitStatus() noexcept;

}  // namespace Zorvik::Cli::Interrupt
