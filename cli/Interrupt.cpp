#include "cli/Interrupt.h"

#include <signal.h>

#include <atomic>

namespace Zorvik::Cli::Interrupt {

namespace {
std::atomic<bool> requested{false};

void OnInterrupt(int) { requested.store(true); }
}  // namespace

void Install() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a password prompt blocked in read() must wake up. SA_RESETHAND lets a
    // second Ctrl-C end a process whose operation does not stop.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
}

bool Requested() noexcept { return requested.load(); }

}  // namespace Zorvik::Cli::Interrupt
