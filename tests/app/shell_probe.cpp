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
// - PROBE_MODE=open-windows: the program itself, in the program folder
//   PROBE_FOLDER. Once its window is up it stores a support (not yet
//   flushed), then takes the steps of PROBE_STEPS, each inside the event
//   loop of the box or dialog the one before opened (after "close", the
//   loop of a box shown once the application's loop has ended): the name
//   of a command of the main window, the name of a button of the dialog
//   on top, "box" (a question box), "closing-error" (a database error
//   raised as the main window goes) or "close" (the main window closed);
//   then "open <class of the window on top>" ("-" for none). Ends with the
//   program's exit code.
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/DBWrapperGlobal.h"
#include "app/EntryRoutine.h"
#include "app/MessageBoxes.h"
#include "app/ProgramFolder.h"
#include "app/TProgramApplication.h"
#include "app/TSingleAppInstance.h"
#include "app/TfrmMain.h"
#include "app/USdkUrlLauncher.h"
#include "catalog/Cberrorhook.h"
#include "catalog/Engine.h"
#include "catalog/Udbwrapper.h"
#include "engine/storage/error4.h"

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

void takeSteps(QStringList steps) {
  if (steps.isEmpty()) {
    const QWidget* top = QApplication::activeModalWidget();
    report(std::string("open ") + (top != nullptr ? top->metaObject()->className() : "-"));
    return;
  }
  const QString step = steps.takeFirst();
  // The next step runs in the next event loop: after a close, the first one
  // after the application's.
  const auto next = [steps] { QTimer::singleShot(0, [steps] { takeSteps(steps); }); };
  if (step == "close") {
    QObject::connect(frmMain, &QObject::destroyed, next);
    frmMain->close();
    return;
  }
  next();
  if (step == "box") {
    ShowMessageBox(QStringLiteral("Continuer ?"), QStringLiteral("Question"), BoxButtons::YesNo);
  } else if (step == "closing-error") {
    QObject::connect(frmMain, &QObject::destroyed,
                     [] { error4hook(&GlobalCode4(), e4instance, 80159, "", "", ""); });
  } else if (auto* command = frmMain->findChild<QAction*>(step)) {
    command->trigger();
  } else if (const QWidget* top = QApplication::activeModalWidget()) {
    if (auto* button = top->findChild<QPushButton*>(step)) button->click();
  }
}

int openWindows(int argc, char** argv) {
  InitEngine();
  TProgramApplication application(argc, argv);
  const ScopedProgramPath program(std::string(std::getenv("PROBE_FOLDER")) + "vantrelodisk");
  QTimer::singleShot(0, [] {
    TSupportRecord support;
    dbWrapper->AddSupportRecord(support);
    takeSteps(QString::fromUtf8(std::getenv("PROBE_STEPS")).split(' ', Qt::SkipEmptyParts));
  });
  return RunEntryRoutine();
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* mode = std::getenv("PROBE_MODE")) {
    if (std::string(mode) == "open-windows") return openWindows(argc, argv);
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
