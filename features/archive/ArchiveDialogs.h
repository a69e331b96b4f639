// What the export and import dialogs share: the archive path with its file
// dialog (archive files "*.cex", the default extension, or all files), kept
// in a section of the ini file; and the trace list with its progress bar.
#pragma once

#include <QFileDialog>
#include <QString>
#include <string_view>

class QHBoxLayout;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

// Sets up `dialog` to save or open an archive, with its designed title.
void PrepareArchiveFileDialog(QFileDialog& dialog, QFileDialog::AcceptMode mode,
                              const QString& title);
// The two filters, named in the current language.
void SetArchiveFilters(QFileDialog& dialog, const QString& archives, const QString& allFiles);

// The path edit and its "..." button, side by side.
QHBoxLayout* ArchivePathRow(QLineEdit& path, QPushButton& select);

// "DefaultArchive" (the path; default: the edit's text) and "DefaultDir"
// (the file dialog's folder; default: the one it has) of `section`.
void LoadArchivePath(std::string_view section, QLineEdit& path, QFileDialog& dialog);
void SaveArchivePath(std::string_view section, const QLineEdit& path, const QFileDialog& dialog);

// A trace list of a size to read, and a progress bar, hidden at first, that
// keeps its place so that the dialog does not change size when it shows.
void PrepareTraceAndProgress(QListWidget& trace, QProgressBar& progress);
