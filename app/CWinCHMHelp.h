// CWinCHMHelp: the program's compiled HTML help, shown in a CHM viewer of
// the system (xchm, else kchmviewer) that runs as a child process.
//
// A topic is a page inside the help file, which compiled HTML help
// addresses as the file + "::/" + topic; a viewer that opens pages is given
// "/" + topic as the page, one that does not opens the file at its start.
// Without a viewer or without the file, nothing is shown and nothing is
// reported. The viewers started are the process's, whichever object
// started them: a close ends them all. Used on the interface thread only.
#pragma once

#include <string>
#include <vector>

struct HelpViewer {
  enum class Pages { kNotTaken, kShowPage };  // kShowPage: "-showPage <page>"
  std::string program;                        // looked up in PATH when it holds no '/'
  Pages pages = Pages::kNotTaken;
};

// The viewers tried, in order: the system's, or the ones a test put in
// place.
std::vector<HelpViewer> CurrentHelpViewers();

// Puts `viewers` in place of the system's for the guard's lifetime. Tests
// only; guards nest.
class ScopedHelpViewers {
 public:
  explicit ScopedHelpViewers(std::vector<HelpViewer> viewers);
  ~ScopedHelpViewers();
  ScopedHelpViewers(const ScopedHelpViewers&) = delete;
  ScopedHelpViewers& operator=(const ScopedHelpViewers&) = delete;

 private:
  std::vector<HelpViewer>* previous_;
  std::vector<HelpViewer> viewers_;
};

class CWinCHMHelp {
 public:
  // How long a viewer asked to end may take before it is killed.
  static constexpr int64_t kCloseGraceMillis = 2000;

  // Without `close`: starts the first viewer that can be started with
  // `helpFile`, at `topic` when it is not empty. With `close`: ends every
  // help viewer this process started (the file and topic are not used).
  void ShowHelp(const std::string& helpFile, const std::string& topic, bool close);
};
