#include "app/TfrmData.h"

#include <QApplication>
#include <QStyle>

#include "app/ProgramFolder.h"
#include "app/TIniFile.h"

TfrmData* frmData = nullptr;

namespace {

// The language entry the preferences chose.
int32_t chosenEntry() { return TIniFile(IniFilePath()).ReadInteger("Misc", "LangID", 0); }

}  // namespace

std::unique_ptr<language_check::CheckAhead> TfrmData::CheckLanguageLibraryAhead() {
  return std::make_unique<language_check::CheckAhead>(ProgramFolder() + kLanguageLibrary,
                                                      chosenEntry());
}

TfrmData::TfrmData(QObject* owner) : QObject(owner), help_(std::make_unique<CWinCHMHelp>()) {
  const int32_t entry = chosenEntry();
  texts_ = std::make_unique<CStandardTextResources>(kLanguageLibrary, entry);
  texts_->LoadLanguage(texts_->GetLanguageId(entry));
  frmData = this;
}

TfrmData::~TfrmData() {
  help_->ShowHelp(HelpFilePath(), "", true);
  help_.reset();
  if (frmData == this) frmData = nullptr;
}

const QList<QIcon>& TfrmData::imgListSupport() {
  if (supportPictures_.isEmpty()) {
    const QStyle* style = QApplication::style();
    supportPictures_ = {style->standardIcon(QStyle::SP_DriveFDIcon),
                        style->standardIcon(QStyle::SP_DriveCDIcon)};
  }
  return supportPictures_;
}
