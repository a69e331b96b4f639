// For form tests: the program itself, run in the test's folder as the
// program folder (TestProgramFolder), with a scenario of the test's in
// place of the event loop.
#pragma once

#include <gtest/gtest.h>

#include <QObject>
#include <QString>
#include <functional>

// Runs the entry routine: the forms are made as at a start (the main window
// shown, the support list inside it), `scenario` runs while they live (the
// globals frmMain, frmSupportList, ... and dbWrapper are set), and they are
// destroyed as at the end. Returns the entry routine's exit code. A run
// after another is a restart of the program.
int RunProgram(const std::function<void()>& scenario);

// The object of that name (objectName) inside `parent`; a failure when
// there is none.
template <class Object>
Object* Find(const QObject& parent, const char* name) {
  Object* object = parent.findChild<Object*>(QString::fromLatin1(name));
  EXPECT_NE(object, nullptr) << name;
  return object;
}
