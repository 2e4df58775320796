#include "gfx/frame_pacing.h"

#include <algorithm>

double PacingDelayMs(PresentPacing& pacing, double presentStartMs, double presentEndMs)
{
    double delay = 0.0;
    const bool waited = presentEndMs - presentStartMs >= kUnwaitedPresentMs;
    if (!waited && pacing.lastFrameEndMs >= 0.0)
    {
        delay = std::max(0.0, kUnpacedFrameMs - (presentEndMs - pacing.lastFrameEndMs));
    }
    pacing.lastFrameEndMs = presentEndMs + delay;
    return delay;
}
