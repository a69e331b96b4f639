#include "app/DbErrorBoxes.h"

#include <QCoreApplication>
#include <deque>
#include <string>

#include "app/MessageBoxes.h"
#include "app/QtText.h"

namespace {

struct Message {
  std::string caption;
  std::string text;
};

std::deque<Message> queued;
bool scheduled = false;  // a showing is posted to the event loop
bool showing = false;    // a box of the queue is open

void showQueued() {
  scheduled = false;
  if (showing) return;
  showing = true;
  PresentPendingDbErrors();
  while (!queued.empty()) {
    const Message message = std::move(queued.front());
    queued.pop_front();
    ShowMessageBox(fromAnsi(message.text), fromAnsi(message.caption), BoxButtons::Ok,
                   BoxModality::Plain);
  }
  showing = false;
}

void queueMessage(const std::string& caption, const std::string& text) {
  queued.push_back(Message{caption, text});
  if (scheduled || showing || QCoreApplication::instance() == nullptr) return;
  scheduled = true;
  QMetaObject::invokeMethod(QCoreApplication::instance(), &showQueued, Qt::QueuedConnection);
}

}  // namespace

ScopedDbErrorBoxes::ScopedDbErrorBoxes() : previous_(SetDbErrorPresenter(&queueMessage)) {}

ScopedDbErrorBoxes::~ScopedDbErrorBoxes() {
  showQueued();
  SetDbErrorPresenter(previous_);
}
