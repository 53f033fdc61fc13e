#include "framework/Clock.h"
#include "framework/MessageWait.h"

#include <QAbstractEventDispatcher>
#include <QTimer>

namespace fw {

void WaitForMessageOrNextSecond(std::int64_t countedSecond) {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr) {
        return;
    }
    // Qt has no wait without dispatching: the timer is the second's event, and whatever comes
    // first is dispatched, as the caller would dispatch it next.
    QTimer second;
    second.setSingleShot(true);
    second.setTimerType(Qt::PreciseTimer);
    second.start(MillisecondsToNextSecond(countedSecond, SystemClockMilliseconds()));
    dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace fw
