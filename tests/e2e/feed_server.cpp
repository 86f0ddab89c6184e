#include "e2e/feed_server.h"

#include <QTcpSocket>
#include <stdexcept>

namespace dovetrel::e2e {

FeedServer::FeedServer(int port, int status, const std::string& body, bool announceLength,
                       const std::string& head) {
    response_ = QByteArray::fromStdString(
        "HTTP/1.1 " + std::to_string(status) + " Feed\r\nContent-Type: application/json\r\n" +
        (announceLength ? "Content-Length: " + std::to_string(body.size()) + "\r\n" : "") + head +
        "Connection: close\r\n\r\n" + body);
    if (!server_.listen(QHostAddress::LocalHost, quint16(port))) {
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            // A small send buffer, so that what was sent is close to what the client took in.
            socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 16 * 1024);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                // The request's details do not matter; its head's end does.
                socket->setProperty("request",
                                    socket->property("request").toByteArray() + socket->readAll());
                if (socket->property("request").toByteArray().contains("\r\n\r\n") &&
                    !socket->property("answering").toBool()) {
                    socket->setProperty("answering", true);
                    ++requests_;
                    socket->write(response_);
                    socket->disconnectFromHost();
                }
            });
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket,
                             [this](qint64 bytes) { bytesSent_ += std::size_t(bytes); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                ++answered_;
                socket->deleteLater();
            });
        }
    });
}

}  // namespace dovetrel::e2e
