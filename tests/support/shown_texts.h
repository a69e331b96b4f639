// For form tests: every text that a window shows a person, gathered from its
// controls, and the check that each is a text of one language of the string
// table (app/language/LanguageTexts.h), one formatted from it, or data.
#pragma once

#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>
#include <vector>

#include "app/language/LanguageTexts.h"

class QObject;

struct ShownText {
  QString where;  // the control: class and object names from the window down
  QString text;
};

// The texts of `root` and of every object below it, shown now or when a
// control hidden now is shown: window titles, labels, buttons, check boxes,
// menu titles and items, actions, column titles, list and combo box lines,
// status texts, tool tips, edit and memo contents. Qt's own parts (a file
// dialog's controls, a calendar, the system menu of a child window) are
// left out: their texts are Qt's; a file dialog's title and filters are in.
std::vector<ShownText> ShownTexts(const QObject& root);

// The texts of one language of the string table, as a person reads them.
class LanguageTable {
 public:
  explicit LanguageTable(const language_texts::Table& table);

  // A text the test put where the program shows it (a volume name, a
  // path): shown as it is in every language.
  void AddData(const QString& data);

  // True when `shown` is made of texts of the table, each of whose printf
  // conversions may be filled by a value of its kind, of data, and of
  // characters that are no letters. A mnemonic '&' is not read.
  bool Accepts(const QString& shown) const;

 private:
  QSet<QString> texts_;
  std::vector<QRegularExpression> patterns_;  // the longest text first
  QStringList data_;                          // the longest first
};
