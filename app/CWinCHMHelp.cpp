#include "app/CWinCHMHelp.h"

#include <signal.h>

#include <algorithm>

#include "platform/os.h"

namespace {

constexpr int64_t kPollMillis = 20;

std::vector<HelpViewer>* installedViewers = nullptr;

// The viewers started and not yet collected: each leads a process group of
// its own, which a close ends with whatever the viewer started.
std::vector<int64_t>& runningViewers() {
  static std::vector<int64_t> pids;
  return pids;
}

// True when the child ended and was collected (or is no child of ours).
bool collected(int64_t pid, bool wait) {
  bool ended = false;
  int exitCode = 0;
  return platform::os().waitProcess(pid, wait, ended, exitCode) != 0 || ended;
}

void forgetEndedViewers() {
  auto& pids = runningViewers();
  pids.erase(
      std::remove_if(pids.begin(), pids.end(), [](int64_t pid) { return collected(pid, false); }),
      pids.end());
}

std::vector<std::string> viewerArguments(const HelpViewer& viewer, const std::string& helpFile,
                                         const std::string& topic) {
  if (viewer.pages == HelpViewer::Pages::kShowPage && !topic.empty())
    return {viewer.program, "-showPage", "/" + topic, helpFile};
  return {viewer.program, helpFile};
}

void display(const std::string& helpFile, const std::string& topic) {
  forgetEndedViewers();
  if (helpFile.empty() || platform::os().pathStatus(helpFile.c_str()) != 0) return;
  for (const HelpViewer& viewer : CurrentHelpViewers()) {
    int64_t pid = 0;
    if (platform::os().startProcess(viewerArguments(viewer, helpFile, topic), true, pid) == 0) {
      runningViewers().push_back(pid);
      return;
    }
  }
}

void closeAll() {
  platform::Os& os = platform::os();
  auto& pids = runningViewers();
  for (int64_t pid : pids) os.signalProcess(pid, SIGTERM, true);
  const int64_t deadline = os.steadyMillis() + CWinCHMHelp::kCloseGraceMillis;
  for (int64_t pid : pids) {
    while (!collected(pid, false)) {
      if (os.steadyMillis() >= deadline) {
        os.signalProcess(pid, SIGKILL, true);
        collected(pid, true);
        break;
      }
      os.sleepMillis(kPollMillis);
    }
  }
  pids.clear();
}

}  // namespace

std::vector<HelpViewer> CurrentHelpViewers() {
  if (installedViewers != nullptr) return *installedViewers;
  return {{"xchm", HelpViewer::Pages::kNotTaken}, {"kchmviewer", HelpViewer::Pages::kShowPage}};
}

ScopedHelpViewers::ScopedHelpViewers(std::vector<HelpViewer> viewers)
    : previous_(installedViewers), viewers_(std::move(viewers)) {
  installedViewers = &viewers_;
}

ScopedHelpViewers::~ScopedHelpViewers() { installedViewers = previous_; }

void CWinCHMHelp::ShowHelp(const std::string& helpFile, const std::string& topic, bool close) {
  if (close) {
    closeAll();
  } else {
    display(helpFile, topic);
  }
}
