// The logind inhibitor of an update, against a private bus (a dbus-daemon of the test's own, ended
// by its id) with a stand-in org.freedesktop.login1 that records Inhibit and whether the lock's
// descriptor is still held.
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

// Answers Inhibit with the write end of a pipe: the lock is released when every copy of it is closed.
class Login1 final : public QDBusVirtualObject {
public:
    QStringList inhibits; // "what|who|why|mode" per call
    int lock = -1;        // the read end of the last lock's pipe

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QStringLiteral("Inhibit")) {
            return false;
        }
        QStringList arguments;
        for (const QVariant& argument : message.arguments()) {
            arguments.append(argument.toString());
        }
        inhibits.append(arguments.join(QLatin1Char('|')));
        int ends[2] = {-1, -1};
        if (::pipe(ends) != 0) {
            return false;
        }
        lock = ends[0];
        connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(ends[1]))));
        ::close(ends[1]);
        return true;
    }
    QString introspect(const QString&) const override { return {}; }
};

// The lock's state as logind sees it: true while a holder keeps the descriptor open.
bool Held(int lock) {
    pollfd descriptor{lock, POLLIN, 0};
    return ::poll(&descriptor, 1, 2000) == 0;
}

TEST(Inhibitor, BlocksShutdownAndSleepWhileTheUpdateRuns) {
    const qam::test::TempDir dir;
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
               QStringLiteral("--address=unix:dir=") + QString::fromStdString(dir.Path())});
    ASSERT_TRUE(bus.waitForReadyRead(10000)) << "dbus-daemon did not start";
    const QByteArray address = bus.readLine().trimmed();
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.constData(), 1);

    // The stand-in in a thread of its own: the program's call blocks its caller until answered.
    QThread thread;
    Login1 login1;
    login1.moveToThread(&thread);
    thread.start();
    QDBusConnection service =
        QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("login1"));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.login1")));
    ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &login1));

    fw::KeepSystemAwake(true);
    EXPECT_EQ(login1.inhibits, QStringList{QStringLiteral(
                                   "shutdown:sleep:idle|qamupdate|Writing new firmware into the modulator "
                                   "module; an interruption can leave it unusable|block")});
    EXPECT_TRUE(Held(login1.lock)) << "the lock was let go during the update";
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

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
