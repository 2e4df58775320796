// The rate applier's thread: sets each rate the redirect thread decides and
// says what came of it, at a priority below the redirect thread's.
#include <objbase.h>

#include <system_error>

#include "audio/engine/stream_setup.h"
#include "log/diagnostic_log.h"

namespace
{
// Rates are decided seconds apart; what a change threw away is queued again
// at the redirect thread's first pass after it, however late it came.
constexpr DWORD kLookEveryMs = 5;

void Say(const char* name, const RateChange& change)
{
    DiagnosticLog& log = DiagnosticLog::Instance();
    if (change.outcome == RateOutcome::Refused)
    {
        log.Log("Rate adjustment: '%s' refused %.2f Hz (HRESULT=0x%08lX); its rate is left alone.", name, change.hz,
                static_cast<unsigned long>(static_cast<uint32_t>(change.result)));
        return;
    }
    if (change.announce)
    {
        log.Log("Rate adjustment: '%s' now plays at %.2f Hz.", name, change.hz);
    }
    if (change.outcome == RateOutcome::Seamless)
    {
        log.Log("Rate adjustment: '%s' changes its rate without a break; its queue is held closely from now on.",
                name);
    }
    else if (change.outcome == RateOutcome::DroppedFirst)
    {
        log.Log("Rate adjustment: '%s' dropped %u queued frames at the change; what it is given is kept from now on "
                "to be queued again.",
                name, change.Lost());
    }
    else if (change.outcome == RateOutcome::Dropped)
    {
        log.Log("Rate adjustment: '%s' dropped %u queued frames at the change; %u were queued again.", name,
                change.Lost(), change.queuedAgain);
    }
}
}  // namespace

void RateApplier::Start(std::vector<RenderTarget>& targets)
{
    Stop();
    jobs_.clear();
    for (RenderTarget& target : targets)
    {
        if (target.clockAdjustment)
        {
            jobs_.push_back({&target.pacer.Mailbox(), target.client.Get(), target.clock.Get(),
                             target.clockAdjustment.Get(), target.name});
        }
    }
    stop_ = false;
    try
    {
        thread_ = jobs_.empty() ? std::thread() : std::thread(&RateApplier::Run, this);
    }
    catch (const std::system_error& error)
    {
        DiagnosticLog::Instance().Log("Rate adjustment: no thread to apply rates (%s); every target keeps its own.",
                                      error.what());
    }
}

void RateApplier::Stop()
{
    stop_ = true;
    if (thread_.joinable())
    {
        thread_.join();
    }
}

// Asked to stop, it still says what the redirect thread has judged.
void RateApplier::Run()
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (bool last = false; !last; Sleep(last ? 0 : kLookEveryMs))
    {
        last = stop_.load();
        for (Job& job : jobs_)
        {
            if (!last && job.mailbox->At(RateMailbox::Stage::Asked))
            {
                job.mailbox->Apply(
                    [&job](StreamReading& reading) { return SUCCEEDED(ReadStream(job.client, job.clock, reading)); },
                    [&job](double hz) { return job.adjustment->SetSampleRate(static_cast<float>(hz)); });
            }
            if (job.mailbox->At(RateMailbox::Stage::Judged))
            {
                Say(job.name.c_str(), job.mailbox->change);
                job.mailbox->HandOn(RateMailbox::Stage::Free);
            }
        }
    }
    if (SUCCEEDED(com))
    {
        CoUninitialize();
    }
}
