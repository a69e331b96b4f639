#include "app/TfrmData.h"

#include "app/ProgramFolder.h"
#include "app/TIniFile.h"

TfrmData* frmData = nullptr;

TfrmData::TfrmData(QObject* owner)
    : QObject(owner),
      texts_(std::make_unique<CStandardTextResources>(kLanguageLibrary)),
      help_(std::make_unique<CWinCHMHelp>()) {
  const TIniFile ini(IniFilePath());
  texts_->LoadLanguage(texts_->GetLanguageId(ini.ReadInteger("Misc", "LangID", 0)));
  frmData = this;
}

TfrmData::~TfrmData() {
  help_->ShowHelp(HelpFilePath(), "", true);
  help_.reset();
  if (frmData == this) frmData = nullptr;
}
