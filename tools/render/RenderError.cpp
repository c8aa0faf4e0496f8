// The interrupt flag that SIGINT, SIGTERM and SIGHUP set and the long loops poll.
#include "RenderError.h"

#include <csignal>

namespace render {

namespace {
volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void onInterrupt(int)
{
    gInterrupted = 1;
}
}  // namespace

void installInterruptHandler()
{
    // No SA_RESTART: a blocking write returns early and the loop sees the flag sooner.
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

void checkInterrupt()
{
    if (gInterrupted != 0)
        throw CRenderError("interrupted; no output written", 130);
}

}  // namespace render
