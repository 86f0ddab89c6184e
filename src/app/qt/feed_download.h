// The release feed's download over Qt's network access: bounded in size, every redirect held
// to the same rule as the feed's own address, and only a server's answer handed on.
#pragma once

#include <QNetworkAccessManager>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/platform.h"

namespace dovetrel::app {

class FeedDownload {
  public:
    // `completion` runs on the main thread with the body, or nullopt when no usable answer
    // came: no connection, a time-out, a refused redirect, or more than the feed may hold.
    void get(const HttpRequest& request,
             std::function<void(std::optional<std::string> body)> completion);

  private:
    std::unique_ptr<QNetworkAccessManager> network_;
};

}  // namespace dovetrel::app
