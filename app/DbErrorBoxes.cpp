#include "app/DbErrorBoxes.h"

#include <QCoreApplication>
#include <deque>
#include <string>

#include "app/CatalogueNotices.h"
#include "app/LocalText.h"
#include "app/MessageBoxes.h"
#include "app/QtText.h"

namespace {

struct Message {
  QString caption;
  QString text;
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
    ShowMessageBox(message.text, message.caption, BoxButtons::Ok, BoxModality::Plain);
  }
  showing = false;
}

void queueMessage(const QString& caption, const QString& text) {
  queued.push_back(Message{caption, text});
  if (scheduled || showing || QCoreApplication::instance() == nullptr) return;
  scheduled = true;
  QMetaObject::invokeMethod(QCoreApplication::instance(), &showQueued, Qt::QueuedConnection);
}

void queueDbError(const std::string& caption, const std::string& text) {
  queueMessage(fromAnsi(caption), fromAnsi(text));
}

void queueRefusal(const TChangeRefusal& refusal) {
  queueMessage(LocalText(22, QStringLiteral("Attention")), ChangeRefusalText(refusal));
}

}  // namespace

ScopedDbErrorBoxes::ScopedDbErrorBoxes()
    : previous_(SetDbErrorPresenter(&queueDbError)),
      previousRefusals_(SetChangeRefusalPresenter(&queueRefusal)) {}

ScopedDbErrorBoxes::~ScopedDbErrorBoxes() {
  showQueued();
  SetChangeRefusalPresenter(previousRefusals_);
  SetDbErrorPresenter(previous_);
}
