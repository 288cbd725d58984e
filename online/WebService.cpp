#include "online/WebService.h"

#include <QEventLoop>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "platform/TextCodec.h"

namespace nubo {

namespace {
constexpr int kConnectTimeoutMs = 5000;
}

QString TWebService::WebCall(const QString& resource) {
    const QString url = base_ + resource;
    if (base_.isEmpty() || waiting_.contains(url)) return kConnectFail;
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("NuboFTPServer " NUBO_VERSION));
    // Always a fresh reply: nothing is taken from or kept in a cache.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setRawHeader("Cache-Control", "no-cache");
    request.setTransferTimeout(kConnectTimeoutMs);

    waiting_.insert(url);
    QNetworkReply* reply = manager_.get(request);
    QEventLoop wait;
    QObject::connect(reply, &QNetworkReply::finished, &wait, &QEventLoop::quit);
    if (!reply->isFinished()) wait.exec();
    waiting_.remove(url);

    QString result = kConnectFail;
    if (reply->error() == QNetworkReply::NoError) {
        const QByteArray body = reply->readAll();
        // The older service answers in the Korean ANSI code page.
        if (!body.isEmpty()) result = QString::fromStdString(DecodeStoredText(body.toStdString()));
    }
    reply->deleteLater();
    return result;
}

} // namespace nubo
