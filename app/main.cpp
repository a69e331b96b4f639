// The program's entry. For now it opens the about box; the main window
// takes its place when it exists.
#include <QApplication>

#include "app/ModalRunner.h"
#include "app/TfrmAbout.h"
#include "app/TfrmData.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  TfrmData data;
  TfrmAbout about;
  RunModal(about);
  return 0;
}
