#include "features/archive/ArchiveDialogs.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <string>

#include "app/ProgramFolder.h"
#include "app/QtText.h"
#include "app/TIniFile.h"

namespace {

constexpr int kTraceWidth = 460;
constexpr int kTraceHeight = 220;

}  // namespace

void PrepareArchiveFileDialog(QFileDialog& dialog, QFileDialog::AcceptMode mode,
                              const QString& title) {
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                     : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(QStringLiteral("cex"));
  dialog.setWindowTitle(title);
}

void SetArchiveFilters(QFileDialog& dialog, const QString& archives, const QString& allFiles) {
  // "*" is every file here: "*.*" would leave out the names without a dot.
  dialog.setNameFilters({archives + QStringLiteral(" (*.cex)"), allFiles + QStringLiteral(" (*)")});
}

QHBoxLayout* ArchivePathRow(QLineEdit& path, QPushButton& select) {
  select.setFixedWidth(select.fontMetrics().horizontalAdvance(select.text()) + 24);
  auto* row = new QHBoxLayout;
  row->addWidget(&path, 1);
  row->addWidget(&select);
  return row;
}

void LoadArchivePath(std::string_view section, QLineEdit& path, QFileDialog& dialog) {
  const TIniFile ini(IniFilePath());
  path.setText(fromAnsi(ini.ReadString(section, "DefaultArchive", toAnsi(path.text()))));
  const std::string folder = ini.ReadString(section, "DefaultDir", std::string());
  if (!folder.empty()) dialog.setDirectory(fromAnsi(folder));
}

void SaveArchivePath(std::string_view section, const QLineEdit& path, const QFileDialog& dialog) {
  TIniFile ini(IniFilePath());
  ini.WriteString(section, "DefaultArchive", toAnsi(path.text()));
  ini.WriteString(section, "DefaultDir", toAnsi(dialog.directory().absolutePath()));
}

void PrepareTraceAndProgress(QListWidget& trace, QProgressBar& progress) {
  trace.setMinimumSize(kTraceWidth, kTraceHeight);
  QSizePolicy policy = progress.sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  progress.setSizePolicy(policy);
  progress.hide();
}
