#include "app/gnome/extension_notice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVariantMap>
#include <cstdio>
#include <utility>

namespace dovetrel::app {
namespace {

const QString kUuid = QStringLiteral("dovetrel@dovetrel.app");

QDBusMessage extensionsCall(const QString& method) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Shell.Extensions"), QStringLiteral("/org/gnome/Shell/Extensions"),
        QStringLiteral("org.gnome.Shell.Extensions"), method);
    message << kUuid;
    return message;
}

QPointer<QMessageBox>& shownNotice() {
    static QPointer<QMessageBox> shown;
    return shown;
}

void showNotice(bool installed) {
    auto* box =
        new QMessageBox(QMessageBox::Information, QStringLiteral("Dovetrel"),
                        installed ? QStringLiteral("Dovetrel's GNOME Shell extension is off")
                                  : QStringLiteral("Dovetrel needs its GNOME Shell extension"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (installed) {
        box->setInformativeText(QStringLiteral(
            "On GNOME the square is drawn by a small Shell extension that comes with Dovetrel. "
            "Until it is on, Dovetrel does not guard any clicks."));
        QPushButton* enable = box->addButton(QStringLiteral("Turn On"), QMessageBox::AcceptRole);
        box->addButton(QStringLiteral("Not Now"), QMessageBox::RejectRole);
        QObject::connect(enable, &QPushButton::clicked, [] {
            QDBusConnection::sessionBus().asyncCall(
                extensionsCall(QStringLiteral("EnableExtension")));
        });
    } else {
        box->setInformativeText(QStringLiteral(
            "On GNOME the square is drawn by a small Shell extension, which the Dovetrel package "
            "installs (dovetrel@dovetrel.app). GNOME finds a newly installed extension at the next "
            "login: log out and in again, then turn it on in the Extensions app if it is off. "
            "Until then Dovetrel does not guard any clicks."));
        box->addButton(QMessageBox::Ok);
    }
    shownNotice() = box;
    box->open();
}

}  // namespace

void offerShellExtension(std::function<bool()> stillMissing) {
    static bool offered = false;
    if (std::exchange(offered, true)) {
        return;
    }
    std::fprintf(stderr,
                 "dovetrel: Dovetrel's GNOME Shell extension (%s) is not running; no click is "
                 "guarded until it is\n",
                 qPrintable(kUuid));
    QDBusMessage info = extensionsCall(QStringLiteral("GetExtensionInfo"));
    auto* pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(info));
    QObject::connect(pending, &QDBusPendingCallWatcher::finished,
                     [stillMissing = std::move(stillMissing)](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         if (stillMissing && !stillMissing()) {
                             return;
                         }
                         const QDBusPendingReply<QVariantMap> reply = *call;
                         // An extension GNOME does not know comes back as an empty description.
                         showNotice(reply.isValid() && !reply.value().isEmpty());
                     });
}

void withdrawShellExtensionNotice() {
    if (shownNotice()) {
        shownNotice()->close();
    }
}

}  // namespace dovetrel::app
