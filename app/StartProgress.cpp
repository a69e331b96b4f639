#include "app/StartProgress.h"

#include <QProgressDialog>
#include <algorithm>

#include "app/LocalText.h"
#include "engine/index/index4.h"
#include "engine/storage/code4.h"

namespace {

constexpr int kSteps = 1000;

}  // namespace

StartProgress::StartProgress(CODE4& code) : code_(code) {
  code_.reindexProgress.tickContext = this;
  code_.reindexProgress.tick = &StartProgress::tick;
}

StartProgress::~StartProgress() {
  code_.reindexProgress.tick = nullptr;
  code_.reindexProgress.tickContext = nullptr;
}

void StartProgress::tick(void* self) {
  auto* progress = static_cast<StartProgress*>(self);
  if (!progress->pump_.Due()) return;
  if (progress->dialog_ == nullptr) progress->show();
  const double done = index4reindexProgress(&progress->code_);
  progress->dialog_->setValue(std::clamp(static_cast<int>(done * kSteps), 0, kSteps - 1));
  progress->pump_.Pump();
}

void StartProgress::show() {
  dialog_ = std::make_unique<QProgressDialog>();
  dialog_->setObjectName(QStringLiteral("dlgStartProgress"));
  // Nothing is repaired yet: the catalogue is being opened.
  dialog_->setWindowTitle(LocalText(271, QString::fromUtf8("Ouverture de la base de données")));
  dialog_->setLabelText(LocalText(
      269,
      QString::fromUtf8("Ouverture de la base : reconstruction d'un index resté inachevé...")));
  dialog_->setCancelButton(nullptr);
  dialog_->setRange(0, kSteps);
  dialog_->setMinimumDuration(0);
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  dialog_->show();
}
