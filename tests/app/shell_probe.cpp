// A program that the shell's tests start as a real process. It reports,
// one line each, to the file PROBE_OUTPUT names:
// - PROBE_MODE unset: the start-up check of the program. "first" (and then
//   "received <hex>" with the bytes the component kept, its terminating
//   zero included, for each later start), or "second" when it must end, or
//   "second, going on" when PROBE_KEEP=1 gave it an OnSecondInstance
//   handler that clears ShutDown. PROBE_PASS=0: PassCommandLine false.
// - PROBE_MODE=late-event: a launcher (mode 3, the browser PROBE_BROWSER)
//   whose OnSuccess would report "event" outlives its application, which
//   goes at once; two seconds later, "done".
// - PROBE_MODE=hold-catalogue: the catalogue of the data folder PROBE_DATA
//   opened as the program opens it, then "open"; when its standard input
//   ends, a support stored ("stored <id>", -1 when refused) and the
//   catalogue closed.
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/TSingleAppInstance.h"
#include "app/USdkUrlLauncher.h"
#include "catalog/Engine.h"
#include "catalog/Udbwrapper.h"

namespace {

void report(const std::string& line) {
  if (std::FILE* out = std::fopen(std::getenv("PROBE_OUTPUT"), "ae")) {
    std::fprintf(out, "%s\n", line.c_str());
    std::fclose(out);
  }
}

bool isSet(const char* name) { return std::getenv(name) && std::getenv(name) == std::string("1"); }

std::unique_ptr<TSingleAppInstance> startUpCheck(bool& wentOn) {
  if (!std::getenv("PROBE_PASS") && !std::getenv("PROBE_KEEP")) return CheckSingleAppInstance();
  auto component = std::make_unique<TSingleAppInstance>(nullptr, true);
  component->SetPassCommandLine(isSet("PROBE_PASS"));
  if (isSet("PROBE_KEEP")) {
    component->OnSecondInstance = [&](TSingleAppInstance*, bool& shutDown) {
      wentOn = true;
      shutDown = false;
    };
  }
  component->Loaded();
  return component->ShutDownAsked() ? nullptr : std::move(component);
}

int runInstance(QCoreApplication& application) {
  bool wentOn = false;
  std::unique_ptr<TSingleAppInstance> component = startUpCheck(wentOn);
  if (component == nullptr || wentOn) {
    report(wentOn ? "second, going on" : "second");
    return 0;
  }
  // A process is the first instance once: another component is switched
  // off when it is loaded.
  TSingleAppInstance another(nullptr, true);
  another.Loaded();
  report(another.Enabled() ? "first, twice" : "first");
  component->OnReceiveCommandLine = [](TSingleAppInstance* sender, const char*) {
    std::string hex;
    char digits[3];
    for (size_t i = 0; i <= sender->ReceivedLength(); i++) {
      std::snprintf(digits, sizeof digits, "%02x",
                    static_cast<unsigned char>(sender->ReceivedText()[i]));
      hex += digits;
    }
    report("received " + hex);
  };
  QTimer::singleShot(60000, &application, &QCoreApplication::quit);
  return application.exec();
}

void runLateEvent(int argc, char** argv) {
  {
    QCoreApplication application(argc, argv);
    ScopedBrowserLookup scoped({{}, {}, std::getenv("PROBE_BROWSER"), "xdg-open"});
    USdkUrlLauncher::Launch(nullptr, 3, "http://kavri.example/",
                            [](USdkUrlLauncher*) { report("event"); });
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  report("done");
}

void holdCatalogue() {
  InitEngine();
  TDBWrapper catalogue(GlobalCode4(), std::getenv("PROBE_DATA"));
  report("open");
  char byte = 0;
  while (::read(STDIN_FILENO, &byte, 1) > 0) {
  }
  TSupportRecord support;
  report("stored " + std::to_string(catalogue.AddSupportRecord(support)));
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* mode = std::getenv("PROBE_MODE")) {
    if (std::string(mode) == "hold-catalogue") {
      holdCatalogue();
    } else {
      runLateEvent(argc, argv);
    }
    return 0;
  }
  QCoreApplication application(argc, argv);
  return runInstance(application);
}
