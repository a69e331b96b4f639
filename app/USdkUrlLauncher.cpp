#include "app/USdkUrlLauncher.h"

#include <cerrno>
#include <memory>
#include <thread>

#include "app/InterfaceThread.h"
#include "platform/os.h"

namespace {

constexpr int16_t kDesktopHandlerMode = 2;
constexpr int16_t kWaitingMode = 3;
// What xdg-open answers for an empty address: a syntax error.
constexpr int32_t kEmptyAddressResult = 1;

// Waits for a child to end and collects it; its exit status, or -errno.
int32_t collect(int64_t pid) {
  bool ended = false;
  int exitCode = 0;
  const int rc = platform::os().waitProcess(pid, true, ended, exitCode);
  return rc != 0 ? rc : exitCode;
}

}  // namespace

void USdkUrlLauncher::Launch(QObject* owner, int16_t mode, std::string url, Event onSuccess,
                             Event onFailure) {
  PrepareInterfaceCalls();
  (new USdkUrlLauncher(owner, mode, std::move(url), std::move(onSuccess), std::move(onFailure)))
      ->Resume();
}

USdkUrlLauncher::USdkUrlLauncher(QObject* owner, int16_t mode, std::string url, Event onSuccess,
                                 Event onFailure)
    : url_(std::move(url)),
      owner_(owner),
      hasOwner_(owner != nullptr),
      mode_(mode),
      onSuccess_(std::move(onSuccess)),
      onFailure_(std::move(onFailure)),
      lookup_(CurrentBrowserLookup()) {}

void USdkUrlLauncher::Resume() {
  std::thread thread;
  if (platform::os().startThread(thread, [this] { Execute(); })) {
    thread.detach();  // the launcher is the thread's from here on
    return;
  }
  lastResult_ = -EAGAIN;
  finishOnInterfaceThread();
}

void USdkUrlLauncher::Execute() {
  int64_t leftRunning = 0;
  success_ = run(leftRunning);
  if (success_ ? onSuccess_ : onFailure_) {
    finishOnInterfaceThread();
  } else {
    delete this;
  }
  if (leftRunning > 0) collect(leftRunning);
}

bool USdkUrlLauncher::run(int64_t& leftRunning) {
  if (mode_ == kDesktopHandlerMode) return runDesktopHandler();
  std::string executable;
  std::string argumentTemplate;
  if (!GetDefaultBrowserCommand(lookup_, executable, argumentTemplate)) {
    lastResult_ = -ENOENT;
    return false;
  }
  std::vector<std::string> arguments{executable};
  for (std::string& argument : BuildBrowserArguments(argumentTemplate, url_))
    arguments.push_back(std::move(argument));
  int64_t pid = 0;
  lastResult_ = platform::os().startProcess(arguments, false, pid);
  if (lastResult_ != 0) return false;
  if (mode_ == kWaitingMode) {
    collect(pid);
  } else {
    leftRunning = pid;
  }
  return true;
}

bool USdkUrlLauncher::runDesktopHandler() {
  if (url_.empty()) {
    lastResult_ = kEmptyAddressResult;
    return false;
  }
  int64_t pid = 0;
  lastResult_ = platform::os().startProcess({lookup_.opener, url_}, false, pid);
  if (lastResult_ != 0) return false;
  lastResult_ = collect(pid);
  return lastResult_ == 0;
}

void USdkUrlLauncher::finishOnInterfaceThread() {
  // Deleted with the call: after its event, or unrun when the application
  // is going.
  std::shared_ptr<USdkUrlLauncher> self(this, [](USdkUrlLauncher* launcher) { delete launcher; });
  PostToInterfaceThread([self] {
    if (self->hasOwner_ && self->owner_.isNull()) return;
    const Event& event = self->success_ ? self->onSuccess_ : self->onFailure_;
    if (event) event(self.get());
  });
}

void OpenWebPage(QObject* owner, const std::string& address) {
  if (address.empty()) return;
  USdkUrlLauncher::Launch(owner, kDesktopHandlerMode, address);
}
