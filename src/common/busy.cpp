#include "busy.h"

#include <atomic>
#include <utility>

namespace {

std::atomic<BusyIndicator *> installed{nullptr};
thread_local bool busy = false;

// Makes the state of this thread `wanted` and tells the indicator when that changes it; returns the
// state before.
bool setBusy(bool wanted)
{
    const bool before = std::exchange(busy, wanted);
    if (before != wanted) {
        if (BusyIndicator *indicator = installed.load()) {
            if (wanted)
                indicator->show();
            else
                indicator->hide();
        }
    }
    return before;
}

} // namespace

BusyIndicator *setBusyIndicator(BusyIndicator *indicator)
{
    BusyIndicator *previous = installed.exchange(indicator);
    // Installed in the middle of a wait: the new one takes over what the old one showed.
    if (busy && previous != indicator) {
        if (previous)
            previous->hide();
        if (indicator)
            indicator->show();
    }
    return previous;
}

bool isBusy()
{
    return busy;
}

Busy::Busy() : m_before(setBusy(true)) {}

Busy::~Busy()
{
    setBusy(m_before);
}

NotBusy::NotBusy() : m_before(setBusy(false)) {}

NotBusy::~NotBusy()
{
    setBusy(m_before);
}
