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

// Answers Inhibit with the write end of a pipe: the lock is let go when every copy of it is closed.
class Login1 final : public QDBusVirtualObject {
public:
    QList<QVariantList> inhibits;
    int lock = -1; // the read end

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        int ends[2] = {-1, -1};
        if (message.member() != QStringLiteral("Inhibit") || ::pipe(ends) != 0) {
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
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
               QStringLiteral("--address=unix:dir=") + QString::fromStdString(dir.Path())});
    ASSERT_TRUE(bus.waitForReadyRead(10000)) << "dbus-daemon did not start";
    const QByteArray address = bus.readLine().trimmed();
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.constData(), 1);
    // The stand-in answers from a thread of its own: the program's call blocks until answered.
    QThread thread;
    Login1 login1;
    login1.moveToThread(&thread);
    thread.start();
    QDBusConnection service =
        QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("login1"));
    EXPECT_TRUE(service.registerService(QStringLiteral("org.freedesktop.login1")));
    EXPECT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &login1));

    fw::KeepSystemAwake(true);
    const QVariantList inhibit{
        QStringLiteral("shutdown:sleep:idle"), QStringLiteral("qamupdate"),
        QStringLiteral(
            "Writing new firmware into the modulator module; an interruption can leave it unusable"),
        QStringLiteral("block")};
    EXPECT_EQ(login1.inhibits, QList<QVariantList>{inhibit});
    EXPECT_TRUE(login1.lock >= 0 && Held(login1.lock)) << "the lock was let go during the update";
    fw::KeepSystemAwake(false);
    EXPECT_FALSE(Held(login1.lock)) << "the lock is still held after the update";

    ::close(login1.lock);
    service.unregisterObject(QStringLiteral("/org/freedesktop/login1"));
    QDBusConnection::disconnectFromBus(QStringLiteral("login1"));
    thread.quit();
    thread.wait();
    bus.terminate();
    bus.waitForFinished(5000);
}

} // namespace
