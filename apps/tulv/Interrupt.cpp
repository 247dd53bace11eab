#include "Interrupt.h"

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> sCaught { 0 };
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch a lock-free flag");

void onSignal(int number)
{
    int expected = 0;
    if (!sCaught.compare_exchange_strong(expected, number)) {
        // Asked twice: the user no longer wants to wait for a clean stop.
        std::signal(number, SIG_DFL);
        std::raise(number);
    }
}

} // namespace

namespace interrupt {

void install()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted reads and writes: the stop is honoured at the end
    // of the block, and a file back end must not see a spurious EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

bool requested()
{
    return sCaught.load(std::memory_order_relaxed) != 0;
}

int signalNumber()
{
    return sCaught.load(std::memory_order_relaxed);
}

int exitCode()
{
    return 128 + signalNumber();
}

} // namespace interrupt
