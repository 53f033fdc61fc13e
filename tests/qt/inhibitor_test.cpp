// The update's logind inhibitor against a private bus (a dbus-daemon of the test's own, ended by its
// id) and a stand-in org.freedesktop.login1 that records Inhibit and holds the lock's other end.
#include "framework/SleepGuard.h"
#include "tests/support/Platform.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

namespace {

using namespace Qt::Literals::StringLiterals;

// Answers Inhibit with the write end of a pipe: the lock is let go when every copy of it is closed.
class Login1 final : public QDBusVirtualObject {
public:
    QList<QVariantList> inhibits;
    int lock = -1; // the read end

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        int ends[2] = {-1, -1};
        if (message.member() != u"Inhibit"_s || ::pipe(ends) != 0) {
            return false;
        }
        inhibits.append(message.arguments());
        lock = ends[0];
        connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(ends[1]))));
        ::close(ends[1]);
        return true;
    }
    QString introspect(const QString&) const override { return {}; }
};

// True while a holder keeps the lock's descriptor open (waiting up to 2 s for its release).
bool Held(int lock) {
    pollfd descriptor{lock, POLLIN, 0};
    return ::poll(&descriptor, 1, 2000) == 0;
}

TEST(Inhibitor, BlocksShutdownAndSleepWhileHeld) {
    int argc = 0;
    const QCoreApplication application(argc, nullptr); // QtDBus's own thread needs one
    const qam::test::TempDir dir;
    QProcess bus;
    bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s,
                                 u"--address=unix:dir="_s + QString::fromStdString(dir.Path())});
    ASSERT_TRUE(bus.waitForReadyRead(10000)) << "dbus-daemon did not start";
    const QByteArray address = bus.readLine().trimmed();
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.constData(), 1);
    // The stand-in answers from a thread of its own: the program's call blocks until answered.
    QThread thread;
    Login1 login1;
    login1.moveToThread(&thread);
    thread.start();
    QDBusConnection service = QDBusConnection::connectToBus(QString::fromLatin1(address), u"login1"_s);
    EXPECT_TRUE(service.registerService(u"org.freedesktop.login1"_s));
    EXPECT_TRUE(service.registerVirtualObject(u"/org/freedesktop/login1"_s, &login1));

    fw::KeepSystemAwake(true);
    const QVariantList inhibit{
        u"shutdown:sleep:idle"_s, u"qamupdate"_s,
        u"Writing new firmware into the modulator module; an interruption can leave it unusable"_s,
        u"block"_s};
    EXPECT_EQ(login1.inhibits, QList<QVariantList>{inhibit});
    EXPECT_TRUE(login1.lock >= 0 && Held(login1.lock)) << "the lock was let go during the update";
    fw::KeepSystemAwake(false);
    EXPECT_FALSE(Held(login1.lock)) << "the lock is still held after the update";

    ::close(login1.lock);
    service.unregisterObject(u"/org/freedesktop/login1"_s);
    QDBusConnection::disconnectFromBus(u"login1"_s);
    thread.quit();
    thread.wait();
}

} // namespace
