#include "app/TSingleAppInstance.h"

#include <fcntl.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>

#include "app/ProgramFolder.h"
#include "app/SingleInstanceNames.h"
#include "platform/os.h"

namespace {

// Set once a component of this process holds the lock: this process is the
// first instance, for good.
std::atomic<bool> firstInstanceHere{false};

constexpr int64_t kRetryMillis = 50;

[[noreturn]] void raiseSystemError(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

// The whole command line of this process: its arguments as it received
// them, joined by blanks, with the terminating zero.
std::string thisCommandLine() {
  std::string line;
  for (const std::string& argument : platform::os().commandLineArguments()) {
    if (!line.empty()) line += ' ';
    line += argument;
  }
  line += '\0';
  return line;
}

int64_t millisLeft(int64_t deadline) {
  return std::max<int64_t>(0, deadline - platform::os().steadyMillis());
}

// Connects to the first instance, which may hold the lock and not listen
// yet; false when the deadline passed.
bool connectBefore(QLocalSocket& socket, const QString& path, int64_t deadline) {
  for (;;) {
    socket.connectToServer(path);
    if (socket.waitForConnected(static_cast<int>(millisLeft(deadline)))) return true;
    const auto error = socket.error();
    socket.abort();
    const bool notYet =
        error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError;
    if (!notYet || millisLeft(deadline) == 0) return false;
    platform::os().sleepMillis(std::min(kRetryMillis, millisLeft(deadline)));
  }
}

}  // namespace

TSingleAppInstance::TSingleAppInstance(QObject* owner, bool loading)
    : QObject(owner), enabled_(loading), loading_(loading) {}

TSingleAppInstance::~TSingleAppInstance() { release(false); }

void TSingleAppInstance::Loaded() {
  loading_ = false;
  if (firstInstanceHere) {
    enabled_ = false;
    return;
  }
  PerformSingletonCode();
}

void TSingleAppInstance::SetEnabled(bool value) {
  if (value == enabled_) return;
  if (firstInstanceHere && value) return;
  enabled_ = value;
  if (!loading_) PerformSingletonCode();
}

void TSingleAppInstance::SetMarker(const std::string& text) {
  if (text == marker_) return;
  AssertValidMarkerText(text);
  marker_ = text;
}

bool TSingleAppInstance::IsValidMarkerText(std::string_view text) {
  return text.find('\\') == std::string_view::npos;
}

void TSingleAppInstance::AssertValidMarkerText(std::string_view text) {
  if (!IsValidMarkerText(text)) throw std::invalid_argument(kInvalidMarkerMessage);
}

std::string TSingleAppInstance::TranslateSlashes(std::string text) {
  for (char& c : text) {
    if (c == '\\') c = '_';
  }
  return text;
}

void TSingleAppInstance::PerformSingletonCode() {
  if (!enabled_) {
    ReleaseInternalMapFile();
    return;
  }
  if (marker_.empty()) SetMarker(TranslateSlashes(ProgramPath()));
  if (CreateInternalMapFile()) {
    firstInstanceHere = true;
  } else {
    TakeSecondInstanceAction();
  }
}

bool TSingleAppInstance::CreateInternalMapFile() {
  if (marker_.empty()) return true;
  const SingleInstanceNames names = SingleInstanceNamesFor(marker_);
  if (lockFd_ < 0) {
    const int fd =
        platform::os().openFile(names.lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
    if (fd < 0) raiseSystemError(-fd, "single instance lock " + names.lockPath);
    lockFd_ = fd;
  }
  const int locked = platform::os().shareLock(lockFd_, true);
  if (locked == -EWOULDBLOCK) return false;
  if (locked < 0) raiseSystemError(-locked, "single instance lock " + names.lockPath);
  listen(names.socketPath);
  return true;
}

void TSingleAppInstance::listen(const std::string& socketPath) {
  const QString path = QString::fromLocal8Bit(socketPath.c_str());
  // A socket left by a first instance that was killed: the lock is ours
  // now, so nobody else serves it.
  QLocalServer::removeServer(path);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(path)) {
    const std::string error = server_->errorString().toStdString();
    throw std::runtime_error("single instance socket " + socketPath + ": " + error);
  }
  connect(server_, &QLocalServer::newConnection, this, &TSingleAppInstance::acceptConnections);
}

void TSingleAppInstance::acceptConnections() {
  QLocalServer* server = server_;
  while (server != nullptr && server->hasPendingConnections()) {
    QLocalSocket* socket = server->nextPendingConnection();
    auto reader = std::make_shared<single_instance::CopyDataReader>();
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, reader] {
      const QByteArray bytes = socket->readAll();
      const auto before = reader->Current();
      const auto state = reader->Feed(std::string_view(bytes.constData(), bytes.size()));
      if (state == before) return;
      if (state == single_instance::CopyDataReader::State::kRefused) {
        socket->abort();
        return;
      }
      LocalWinProc(reader->Message(), [socket] {
        const char answer = single_instance::kAcknowledgement;
        if (socket->write(&answer, 1) != 1 || !socket->flush())
          std::fprintf(stderr, "single instance: the answer to a later instance was lost\n");
      });
    });
  }
}

void TSingleAppInstance::ReleaseInternalMapFile() { release(true); }

void TSingleAppInstance::release(bool raising) {
  if (server_ != nullptr) {
    server_->close();
    // Later: this may run inside one of the server's own connections.
    server_->deleteLater();
    server_ = nullptr;
  }
  if (lockFd_ < 0) return;
  const int closed = platform::os().closeFile(lockFd_);
  lockFd_ = -1;  // the descriptor is gone even when close reports an error
  if (closed == 0) return;
  if (raising) raiseSystemError(-closed, "single instance lock");
  std::fprintf(stderr, "single instance lock: %s\n",
               std::generic_category().message(-closed).c_str());
}

void TSingleAppInstance::TakeSecondInstanceAction() {
  if (passCommandLine_) PassThisInstanceCommandLine();
  bool shutDown = true;
  DoOnSecondInstance(shutDown);
  shutDownAsked_ = shutDown;
}

void TSingleAppInstance::PassThisInstanceCommandLine() {
  const std::string socketPath = SingleInstanceNamesFor(marker_).socketPath;
  const int64_t deadline = platform::os().steadyMillis() + kAnswerTimeoutMillis;
  QLocalSocket socket;
  if (!connectBefore(socket, QString::fromLocal8Bit(socketPath.c_str()), deadline))
    raiseSystemError(ECONNREFUSED, "no first instance listens at " + socketPath);
  const std::string message = single_instance::EncodeCopyData(0, thisCommandLine());
  socket.write(message.data(), static_cast<qint64>(message.size()));
  while (socket.bytesToWrite() > 0) {
    if (!socket.waitForBytesWritten(static_cast<int>(millisLeft(deadline))))
      raiseSystemError(ETIMEDOUT, "the first instance did not take the command line");
  }
  char answer = 0;
  while (socket.bytesAvailable() < 1) {
    if (!socket.waitForReadyRead(static_cast<int>(millisLeft(deadline))))
      raiseSystemError(ETIMEDOUT, "the first instance did not answer");
  }
  socket.read(&answer, 1);
  socket.disconnectFromServer();
  if (answer != single_instance::kAcknowledgement)
    raiseSystemError(EPROTO, "the first instance answered wrongly");
}

void TSingleAppInstance::LocalWinProc(const single_instance::CopyData& message,
                                      const std::function<void()>& reply) {
  // A std::string keeps a zero past its bytes: the text stays terminated
  // even when the sender left its own zero out.
  received_ = message.data;
  receivedDataWord_ = message.dataWord;
  reply();
  DoReceiveCommandLine(received_->c_str());
}

void TSingleAppInstance::DoOnSecondInstance(bool& shutDown) {
  if (OnSecondInstance) OnSecondInstance(this, shutDown);
}

void TSingleAppInstance::DoReceiveCommandLine(const char* text) {
  if (OnReceiveCommandLine) OnReceiveCommandLine(this, text);
}

std::unique_ptr<TSingleAppInstance> CheckSingleAppInstance() {
  auto component = std::make_unique<TSingleAppInstance>(nullptr, true);
  component->Loaded();
  if (component->ShutDownAsked()) return nullptr;
  return component;
}
