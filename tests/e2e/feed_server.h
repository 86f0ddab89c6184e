// A release feed on 127.0.0.1 for end-to-end tests: answers every GET with one response. It
// serves while the test's Qt event loop runs, as waitFor runs it.
#pragma once

#include <QByteArray>
#include <QTcpServer>
#include <string>

namespace dovetrel::e2e {

class FeedServer {
  public:
    // Listens on 127.0.0.1:`port`; throws when the port cannot be had. Without
    // `announceLength` the body's end is told only by closing the connection; `head` holds
    // further header lines, each ending in CRLF.
    FeedServer(int port, int status, const std::string& body, bool announceLength = true,
               const std::string& head = "");

    int requests() const { return requests_; }
    // Connections done with, whether the whole answer went out or the client hung up.
    int answered() const { return answered_; }
    // Bytes of the answers that the client took before it hung up, over all connections.
    std::size_t bytesSent() const { return bytesSent_; }

  private:
    QTcpServer server_;
    QByteArray response_;
    int requests_ = 0;
    int answered_ = 0;
    std::size_t bytesSent_ = 0;
};

}  // namespace dovetrel::e2e
