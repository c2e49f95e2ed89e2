#include "cli/terminal/Interrupt.h"

#include <signal.h>

#include <atomic>

namespace Zorvik::Cli::Interrupt {

namespace {
std::atomic<int> received{0};

void OnInterrupt(int signal) {
    int none = 0;
    received.compare_exchange_strong(none, signal);
}
}  // namespace

void Install() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a password prompt blocked in read() must wake up. SA_RESETHAND lets a
    // second signal end a process whose operation does not stop.
    action.sa_flags = SA_RESETHAND;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    ::signal(SIGXFSZ, SIG_IGN);
}

bool Requested() noexcept { return received.load() != 0; }

int ExitStatus() noexcept {
    const int signal = received.load();
    return 128 + (signal != 0 ? signal : SIGINT);
}

}  // namespace Zorvik::Cli::Interrupt
