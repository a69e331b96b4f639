// TfrmData: the application context that every form reaches through the
// global frmData: the product's name and version, the interface texts of
// the current language, the pictures of the media and the help. Its
// destruction closes every help window the program opened.
//
// One instance, made by the main window before any other form and kept
// until the end; frmData is null before and after.
#pragma once

#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>

#include "app/CStandardTextResources.h"
#include "app/CWinCHMHelp.h"
#include "app/LanguageLibraryCheck.h"

class TfrmData : public QObject {
  Q_OBJECT

 public:
  // The language library beside the executable.
  static constexpr const char* kLanguageLibrary = "QuendrixResDemo.dll";

  // Loads the language library and the language of the entry that the
  // preferences chose ([Misc] LangID of the ini file, entry 0 when unset).
  // A library refused by its check is not loaded: Texts().RefusalCause()
  // tells why, and the program's own texts stand.
  explicit TfrmData(QObject* owner = nullptr);
  ~TfrmData() override;

  // Starts the check of the language library for the entry the settings
  // name, ahead of the forms; the context made later takes its verdict.
  static std::unique_ptr<language_check::CheckAhead> CheckLanguageLibraryAhead();

  const QString& ProductName() const { return productName_; }
  const QString& Version() const { return version_; }
  CStandardTextResources& Texts() { return *texts_; }
  CWinCHMHelp& Help() { return *help_; }

  // The pictures of the media, by drive kind: kRemovablePicture for a
  // removable disk (and any kind but a CD-ROM), kCdRomPicture for a CD-ROM.
  static constexpr int kRemovablePicture = 0;
  static constexpr int kCdRomPicture = 1;
  const QList<QIcon>& imgListSupport();

 private:
  QString productName_ = QStringLiteral("Kavri Vantrelodisk");
  QString version_ = QStringLiteral(" v1.01");
  std::unique_ptr<CStandardTextResources> texts_;
  std::unique_ptr<CWinCHMHelp> help_;
  QList<QIcon> supportPictures_;  // made on first use, from the style
};

extern TfrmData* frmData;
