#include "framework/Clock.h"
#include "framework/MessageWait.h"

#include <QAbstractEventDispatcher>
#include <QTimer>

#include <chrono>

namespace {

// The one clock of the reset wait: its whole seconds and its sleeps are both read here, so that
// the sleep never ends before the second it waits for.
std::int64_t NowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

namespace fw {

std::int64_t CurrentTimeSeconds() {
    return NowMilliseconds() / 1000;
}

void WaitForMessageOrNextSecond() {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr) {
        return;
    }
    // Qt has no wait without dispatching: the timer is the second's event, and whatever comes
    // first is dispatched, as the caller would dispatch it next.
    QTimer second;
    second.setSingleShot(true);
    second.setTimerType(Qt::PreciseTimer);
    second.start(MillisecondsToNextSecond(NowMilliseconds()));
    dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace fw
