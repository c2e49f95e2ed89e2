// Ctrl-C: the first SIGINT only raises a flag, which the running operation's callbacks read
// and answer with a cancel; a second one ends the process at once.
#pragma once

namespace Zorvik::Cli::Interrupt {

void Install();
bool Requested() noexcept;

}  // namespace Zorvik::Cli::Interrupt
