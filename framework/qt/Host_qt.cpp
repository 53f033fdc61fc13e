#include "framework/qt/Windows_qt.h"

#include "framework/FileDialog.h"
#include "framework/SleepGuard.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <array>
#include <optional>

namespace fw {

namespace {

// logind's inhibitor lock: held as long as its descriptor is open.
constexpr const char* LOGIN_SERVICE = "org.freedesktop.login1";
constexpr const char* LOGIN_PATH = "/org/freedesktop/login1";
constexpr const char* LOGIN_MANAGER = "org.freedesktop.login1.Manager";
constexpr const char* INHIBIT_WHAT = "shutdown:sleep:idle";
constexpr const char* INHIBIT_WHO = "qamupdate";
constexpr const char* INHIBIT_WHY =
    "Writing new firmware into the modulator module; an interruption can leave it unusable";
constexpr const char* INHIBIT_MODE = "block";
// logind answers at once; a bus that does not answer must not hold the update up for long.
constexpr int INHIBIT_TIMEOUT_MS = 2000;

std::optional<QDBusUnixFileDescriptor>& Inhibitor() {
    static std::optional<QDBusUnixFileDescriptor> inhibitor;
    return inhibitor;
}

// The platform's filter list (name, zero, pattern, zero, ..., zero) as Qt's "name (patterns)".
QStringList NameFilters(const std::string& filter) {
    const QList<QByteArray> parts = QByteArray::fromStdString(filter).split('\0');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size() && !parts[i].isEmpty(); i += 2) {
        QString patterns = QString::fromLocal8Bit(parts[i + 1]);
        filters.append(QString::fromLocal8Bit(parts[i]) + QStringLiteral(" (") +
                       patterns.replace(QLatin1Char(';'), QLatin1Char(' ')) + QLatin1Char(')'));
    }
    return filters;
}

template <std::size_t N> void CopyText(const QByteArray& text, std::array<char, N>& buffer) {
    const std::size_t length = std::min(static_cast<std::size_t>(text.size()), N - 1);
    std::copy_n(text.constData(), length, buffer.begin());
    buffer[length] = '\0';
}

} // namespace

namespace backend {

bool ShowOpenFileDialog(OpenFileName& dialog) {
    QFileDialog box(qt::WidgetOf(dialog.owner), qt::FromAnsi(dialog.title), qt::FromAnsi(dialog.initialDir));
    // Qt's own dialog: it matches patterns without regard to case, as Windows does ("a.QAM" is
    // listed for "*.qam"); the GTK one would not. It names each filter as given, without its patterns.
    box.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    box.setAcceptMode(QFileDialog::AcceptOpen);
    box.setFileMode((dialog.flags & OFN_FILEMUSTEXIST) != 0 ? QFileDialog::ExistingFile
                                                            : QFileDialog::AnyFile);
    box.setNameFilters(NameFilters(dialog.filter));
    if (dialog.defaultExt != nullptr) {
        box.setDefaultSuffix(qt::FromAnsi(dialog.defaultExt));
    }
    if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) {
        return false;
    }
    const QString chosen = box.selectedFiles().constFirst();
    const QByteArray path = QFile::encodeName(chosen);
    // A path that does not fit is refused, as the platform's dialog refuses it.
    if (static_cast<std::size_t>(path.size()) >= dialog.file.size()) {
        return false;
    }
    CopyText(path, dialog.file);
    CopyText(QFile::encodeName(QFileInfo(chosen).fileName()), dialog.fileTitle);
    return true;
}

} // namespace backend

void KeepSystemAwake(bool awake) {
    // Closing the descriptor releases the lock.
    Inhibitor().reset();
    if (!awake) {
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(LOGIN_SERVICE), QString::fromLatin1(LOGIN_PATH),
                                       QString::fromLatin1(LOGIN_MANAGER), QStringLiteral("Inhibit"));
    call << QString::fromLatin1(INHIBIT_WHAT) << QString::fromLatin1(INHIBIT_WHO)
         << QString::fromLatin1(INHIBIT_WHY) << QString::fromLatin1(INHIBIT_MODE);
    // Without a system bus or logind the call fails at once and the update runs without the lock.
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, INHIBIT_TIMEOUT_MS);
    if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1) {
        const auto lock = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
        if (lock.isValid()) {
            Inhibitor() = lock;
        }
    }
}

} // namespace fw
