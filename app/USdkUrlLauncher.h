// USdkUrlLauncher: opens a web page on a short-lived thread of its own, so
// that a slow browser start never holds the interface. The main window's
// feedback and web commands fire one and forget it.
//
// Launch modes (success in brackets):
//   0, and any value but 1-3: the browser's command (BrowserCommand.h)
//      with the address put in its arguments [the browser started]
//   1  the same, failing at once when no browser is found [the same]
//   2  the desktop's handler for the address, `xdg-open URL` [xdg-open
//      exiting 0; an empty address fails without starting anything]
//   3  the browser's command, then waiting for the browser to end [the
//      browser started]
// Every process is started with an argument vector, never through a shell.
//
// The thread touches only the launcher's own fields and the system; it
// never touches widgets. OnSuccess or OnFailure, when given, runs on the
// interface thread (InterfaceThread.h) while the owner lives, and never
// once the application is going. A launcher deletes itself when its work
// and its event are done; a browser left running by modes 0 and 1 is
// collected by the thread when it ends, after the launcher is gone.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <string>

#include "app/BrowserCommand.h"

class USdkUrlLauncher {
 public:
  using Event = std::function<void(USdkUrlLauncher* sender)>;

  // Starts a launcher, from the interface thread. `owner`: events run only
  // while it lives (null: while the application does). The caller keeps
  // no reference.
  static void Launch(QObject* owner, int16_t mode, std::string url, Event onSuccess = {},
                     Event onFailure = {});

  const std::string& Url() const { return url_; }
  int16_t Mode() const { return mode_; }
  bool Succeeded() const { return success_; }
  // 0 when the process started (modes 0, 1, 3), xdg-open's exit status
  // (mode 2, 1 for an empty address), or -errno when nothing could be
  // started (-ENOENT when no browser was found).
  int32_t LastResult() const { return lastResult_; }

  USdkUrlLauncher(const USdkUrlLauncher&) = delete;
  USdkUrlLauncher& operator=(const USdkUrlLauncher&) = delete;

 private:
  USdkUrlLauncher(QObject* owner, int16_t mode, std::string url, Event onSuccess, Event onFailure);
  ~USdkUrlLauncher() = default;  // only the launcher itself deletes it

  void Resume();
  // The thread body.
  void Execute();
  // Runs the mode; a browser left running goes to `leftRunning`.
  bool run(int64_t& leftRunning);
  bool runDesktopHandler();
  // Hands the launcher to the interface thread, where its event runs and
  // it is deleted.
  void finishOnInterfaceThread();

  std::string url_;
  QPointer<QObject> owner_;  // read on the interface thread only
  bool hasOwner_;
  bool success_ = false;
  int16_t mode_;
  Event onSuccess_;
  Event onFailure_;
  int32_t lastResult_ = 0;
  BrowserLookup lookup_;  // taken on the interface thread at launch
};

// The maker's pages that the Help menu's feedback and web items open. None
// is supplied: an item without an address opens nothing.
inline constexpr const char* kFeedbackPageAddress = "";
inline constexpr const char* kHomePageAddress = "";

// Opens `address` with the desktop's handler (mode 2) on a launcher of its
// own; an empty address opens nothing.
void OpenWebPage(QObject* owner, const std::string& address);
