// TSingleAppInstance: lets one instance of the program run per executable
// and user. The main window carries one (SingleAppInstance1).
//
// The first instance holds a lock file named from the marker (flock: the
// kernel lets go of it however the process ends) and listens on a local
// socket named the same way (SingleInstanceNames.h). A later instance finds
// the lock held, sends its command line to that socket
// (SingleInstanceMessage.h), waits for the first instance's one-byte answer
// and is asked to end. The marker is the executable's full path by default,
// so copies of the program in different folders do not exclude each other.
//
// The component belongs to the thread that made it (the interface thread):
// messages reach it through that thread's event loop, one at a time.
// System failures raise std::system_error (std::runtime_error where the
// socket layer gives no error number); a destructor reports them instead.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/SingleInstanceMessage.h"

class QLocalServer;

class TSingleAppInstance : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kInvalidMarkerMessage =
      "A marker may not contain the '\\' character";
  // How long a later instance waits for the first one to take its command
  // line, connection included (the first may still be starting).
  static constexpr int64_t kAnswerTimeoutMillis = 10000;

  using ReceiveCommandLineEvent = std::function<void(TSingleAppInstance* sender, const char* text)>;
  using SecondInstanceEvent = std::function<void(TSingleAppInstance* sender, bool& shutDown)>;

  // `loading`: made as a designed part of a window being built, which calls
  // Loaded when it is complete; Enabled then starts true, else false.
  explicit TSingleAppInstance(QObject* owner = nullptr, bool loading = false);
  ~TSingleAppInstance() override;
  TSingleAppInstance(const TSingleAppInstance&) = delete;
  TSingleAppInstance& operator=(const TSingleAppInstance&) = delete;

  // The end of loading: runs the check, unless another component of this
  // process is already the first instance (this one is then switched off).
  void Loaded();

  bool Enabled() const { return enabled_; }
  // Switching on runs the check, switching off releases the lock; once a
  // component of this process was the first instance, switching on is
  // ignored.
  void SetEnabled(bool value);
  const std::string& Marker() const { return marker_; }
  // Raises std::invalid_argument (kInvalidMarkerMessage) for a marker with
  // a '\', keeping the old one.
  void SetMarker(const std::string& text);
  bool PassCommandLine() const { return passCommandLine_; }
  void SetPassCommandLine(bool value) { passCommandLine_ = value; }

  ReceiveCommandLineEvent OnReceiveCommandLine;
  SecondInstanceEvent OnSecondInstance;

  static bool IsValidMarkerText(std::string_view text);
  static void AssertValidMarkerText(std::string_view text);
  static std::string TranslateSlashes(std::string text);

  // True once the check found another instance and nothing cleared the
  // request to end: this process must end without making any form.
  bool ShutDownAsked() const { return shutDownAsked_; }
  // The text of the last message received, with a terminating zero past
  // its ReceivedLength bytes (the sender's own zero included); null before
  // any message.
  const char* ReceivedText() const { return received_ ? received_->c_str() : nullptr; }
  size_t ReceivedLength() const { return received_ ? received_->size() : 0; }
  uint32_t ReceivedDataWord() const { return receivedDataWord_; }

  // One message from a later instance: keeps its text and data word, calls
  // `reply` (the answer that lets the sender go on at once), then
  // DoReceiveCommandLine.
  void LocalWinProc(const single_instance::CopyData& message, const std::function<void()>& reply);

 protected:
  virtual void DoOnSecondInstance(bool& shutDown);
  virtual void DoReceiveCommandLine(const char* text);

  void PerformSingletonCode();
  // True when this process now holds the lock (an empty marker names
  // nothing another process could hold: always true).
  bool CreateInternalMapFile();
  void ReleaseInternalMapFile();
  void PassThisInstanceCommandLine();
  void TakeSecondInstanceAction();

 private:
  // Closes the socket and the lock file; a failure raises when `raising`,
  // else it is reported on the error output.
  void release(bool raising);
  void listen(const std::string& socketPath);
  void acceptConnections();

  int lockFd_ = -1;                 // the lock file, locked or not, or -1
  QLocalServer* server_ = nullptr;  // a child of this object while listening
  bool enabled_;
  bool loading_;
  std::string marker_;
  bool passCommandLine_ = true;
  bool shutDownAsked_ = false;
  std::optional<std::string> received_;
  uint32_t receivedDataWord_ = 0;
};

// The single-instance check of the program's start, for main to run once
// the application object exists and before any form or the catalogue:
// makes the main window's component with its designed defaults and runs
// its check. The first instance gets the component back and keeps it for
// its whole life (it becomes the main window's SingleAppInstance1); a
// later instance has passed its command line on and gets null: it must end
// at once, with exit code 0.
std::unique_ptr<TSingleAppInstance> CheckSingleAppInstance();
