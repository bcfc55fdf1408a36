// Linux: the running program holds a lock file in the user's runtime folder and listens on a
// local socket beside it. The lock goes with the process however it ends, so a socket file left
// by a program that crashed is recognised as stale and replaced.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <memory>

#include "app/single_instance.h"
#include "base/log.h"

namespace quillon {
namespace {

// A request on the socket: its length as 4 bytes, least significant first, then its bytes. The
// receiver answers with one byte once it has the whole request.
constexpr qsizetype kMaxRequest = 64 * 1024;
constexpr char kTaken = '1';

QByteArray Frame(const std::string& request) {
  QByteArray frame;
  const auto size = static_cast<uint32_t>(request.size());
  for (int shift = 0; shift < 32; shift += 8)
    frame.append(static_cast<char>((size >> shift) & 0xFF));
  frame.append(request.data(), static_cast<qsizetype>(request.size()));
  return frame;
}

bool SendRequest(const QString& socketPath, const std::string& request) {
  QLocalSocket socket;
  socket.connectToServer(socketPath);
  if (!socket.waitForConnected(1000)) return false;
  socket.write(Frame(request));
  if (!socket.waitForBytesWritten(2000)) return false;
  while (socket.bytesAvailable() < 1) {
    if (!socket.waitForReadyRead(5000)) return false;
  }
  char answer = 0;
  return socket.read(&answer, 1) == 1 && answer == kTaken;
}

class Channel final : public InstanceChannel {
 public:
  explicit Channel(const std::string& name) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    base_ = folder + "/" + QString::fromStdString(name);
  }
  ~Channel() override {
    server_.close();
    if (lock_ >= 0) close(lock_);  // lets go of the lock
  }

  bool Claim() override {
    if (lock_ < 0)
      lock_ =
          open(QFile::encodeName(base_ + ".lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_ < 0) {
      LogWarning("cannot tell whether the program runs already (%s.lock): %s",
                 base_.toLocal8Bit().constData(), std::strerror(errno));
      return true;  // runs as it always did
    }
    if (flock(lock_, LOCK_EX | LOCK_NB) != 0) return false;
    const QString socketPath = base_ + ".socket";
    QLocalServer::removeServer(socketPath);  // stale: its program has let go of the lock
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(socketPath))
      LogWarning("later starts cannot reach this program: %s",
                 server_.errorString().toLocal8Bit().constData());
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] { Accept(); });
    return true;
  }

  bool HandOver(const std::string& request) override {
    return SendRequest(base_ + ".socket", request);
  }

  void Listen(std::function<void(const std::string&)> receive) override {
    receive_ = std::move(receive);
  }

 private:
  void Accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
      auto received = std::make_shared<QByteArray>();
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      // A start that connects and says nothing is not waited for.
      QTimer::singleShot(std::chrono::seconds(5), socket, [socket] { socket->abort(); });
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, received] {
        received->append(socket->readAll());
        if (received->size() < 4) return;
        uint32_t size = 0;
        for (int i = 3; i >= 0; --i) size = (size << 8) | static_cast<uint8_t>(received->at(i));
        if (size > kMaxRequest) return socket->abort();
        if (received->size() < 4 + static_cast<qsizetype>(size)) return;
        const std::string request = received->sliced(4, size).toStdString();
        socket->write(&kTaken, 1);
        socket->disconnectFromServer();
        // The later start is answered first: the window may now show a message box.
        QTimer::singleShot(0, &server_, [this, request] {
          if (receive_) receive_(request);
        });
      });
    }
  }

  QString base_;  // the lock file and the socket are named by adding to it
  int lock_ = -1;
  QLocalServer server_;
  std::function<void(const std::string&)> receive_;
};

}  // namespace

std::unique_ptr<InstanceChannel> MakeInstanceChannel(const std::string& name) {
  return std::make_unique<Channel>(name);
}

}  // namespace quillon
