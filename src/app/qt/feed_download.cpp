#include "app/qt/feed_download.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include "core/update_check.h"

namespace dovetrel::app {

void FeedDownload::get(const HttpRequest& request,
                       std::function<void(std::optional<std::string>)> completion) {
    if (!network_) {
        network_ = std::make_unique<QNetworkAccessManager>();
        // Each redirect is checked by the reply below.
        network_->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    }
    QNetworkRequest get{QUrl(QString::fromStdString(request.url))};
    if (request.reloadIgnoringCache) {
        get.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
        get.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    }
    get.setTransferTimeout(static_cast<int>(request.timeoutSeconds * 1000));
    QNetworkReply* reply = network_->get(get);
    auto oversized = std::make_shared<bool>(false);
    // A feed is a few dozen bytes. The network thread reads ahead of us without limit unless
    // the reply's buffer is bounded; bounded just past the limit, it stops reading a larger
    // answer until we see the buffer full and abort.
    reply->setReadBufferSize(qint64(kMaximumFeedBytes) + 1);
    const auto abortWhenOversized = [reply, oversized] {
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if (reply->bytesAvailable() > qint64(kMaximumFeedBytes) ||
            (announced.isValid() && announced.toLongLong() > qint64(kMaximumFeedBytes))) {
            *oversized = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply](const QUrl& to) {
        if (mayFollowFeedRedirect(reply->url().toString(QUrl::FullyEncoded).toStdString(),
                                  to.toString(QUrl::FullyEncoded).toStdString())) {
            Q_EMIT reply->redirectAllowed();
        } else {
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, abortWhenOversized);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, abortWhenOversized);
    QObject::connect(reply, &QNetworkReply::finished, reply,
                     [reply, oversized, completion = std::move(completion)] {
                         reply->deleteLater();
                         const auto error = reply->error();
                         // An answer from the server (a 404 page, say) still has a body to
                         // look at; a failed connection, TLS error or time-out has none.
                         const bool answered = error == QNetworkReply::NoError ||
                                               error >= QNetworkReply::ContentAccessDenied;
                         // An aborted reply is closed: reading it would only warn.
                         const QByteArray body =
                             *oversized || !answered ? QByteArray() : reply->readAll();
                         if (body.isEmpty()) {
                             completion(std::nullopt);
                             return;
                         }
                         completion(body.toStdString());
                     });
}

}  // namespace dovetrel::app
