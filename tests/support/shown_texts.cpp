#include "tests/support/shown_texts.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAction>
#include <QCalendarWidget>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTextEdit>
#include <algorithm>

namespace {

// Without its mnemonics ("&&" is one '&'), as a person reads it.
QString withoutMnemonics(const QString& text) {
  QString plain;
  plain.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); i++) {
    if (text[i] == QLatin1Char('&') && i + 1 < text.size()) i++;
    plain += text[i];
  }
  return plain;
}

// The tool tip Qt gives an action that has none of its own.
QString automaticToolTip(QString text) {
  text.remove(QStringLiteral("..."));
  text.remove(QLatin1Char('&'));
  return text.trimmed();
}

bool hasLetter(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetter(); });
}

// Gathers the texts of one object tree.
class Gatherer {
 public:
  explicit Gatherer(std::vector<ShownText>& texts) : texts_(texts) {}

  void walk(const QObject& object, const QString& parentPath) {
    const QString path = parentPath + QLatin1Char('/') +
                         QString::fromLatin1(object.metaObject()->className()) + QLatin1Char(' ') +
                         object.objectName();
    where_ = &path;
    if (const auto* dialog = qobject_cast<const QFileDialog*>(&object)) {
      add(dialog->windowTitle());
      for (const QString& filter : dialog->nameFilters()) add(filter);
      return;
    }
    if (qobject_cast<const QCalendarWidget*>(&object) != nullptr) return;
    gather(object);
    // A date picker's text is its value, written as the locale writes it.
    if (qobject_cast<const QAbstractSpinBox*>(&object) != nullptr) return;
    const auto* child = qobject_cast<const QMdiSubWindow*>(&object);
    for (const QObject* below : object.children()) {
      if (child != nullptr && below == child->systemMenu()) continue;
      walk(*below, path);
    }
  }

 private:
  void add(const QString& text) {
    if (hasLetter(text)) texts_.push_back({*where_, text});
  }

  void gather(const QObject& object) {
    if (const auto* action = qobject_cast<const QAction*>(&object)) {
      add(action->text());
      if (action->toolTip() != automaticToolTip(action->text())) add(action->toolTip());
      add(action->statusTip());
      return;
    }
    const auto* widget = qobject_cast<const QWidget*>(&object);
    if (widget == nullptr) return;
    add(widget->windowTitle());
    add(widget->toolTip());
    add(widget->statusTip());
    add(widget->whatsThis());
    if (const auto* label = qobject_cast<const QLabel*>(widget)) add(label->text());
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) add(button->text());
    if (const auto* menu = qobject_cast<const QMenu*>(widget)) add(menu->title());
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) add(group->title());
    if (const auto* bar = qobject_cast<const QStatusBar*>(widget)) add(bar->currentMessage());
    if (const auto* bar = qobject_cast<const QProgressBar*>(widget)) add(bar->text());
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
      add(edit->text());
      add(edit->placeholderText());
    }
    if (const auto* memo = qobject_cast<const QPlainTextEdit*>(widget)) {
      add(memo->toPlainText());
      add(memo->placeholderText());
    }
    if (const auto* memo = qobject_cast<const QTextEdit*>(widget)) add(memo->toPlainText());
    if (const auto* box = qobject_cast<const QComboBox*>(widget)) {
      for (int i = 0; i < box->count(); i++) add(box->itemText(i));
    }
    if (const auto* list = qobject_cast<const QListWidget*>(widget)) {
      for (int i = 0; i < list->count(); i++) add(list->item(i)->text());
    }
    if (const auto* header = qobject_cast<const QHeaderView*>(widget)) {
      const QAbstractItemModel* model = header->model();
      for (int i = 0; model != nullptr && i < header->count(); i++)
        add(model->headerData(i, header->orientation()).toString());
    }
  }

  std::vector<ShownText>& texts_;
  const QString* where_ = nullptr;
};

// A printf conversion's values as a pattern: numbers as the formatter
// writes them (padded with blanks or zeros), a text as anything.
QString conversionPattern(QChar conversion) {
  switch (conversion.toLatin1()) {
    case 'd':
    case 'i':
    case 'u':
      return QStringLiteral(" *[-+]?[0-9]+");
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
      return QStringLiteral(" *[-+]?[0-9.]+(?:[eE][-+]?[0-9]+)?");
    case 'x':
    case 'X':
    case 'o':
      return QStringLiteral(" *[0-9A-Fa-f]+");
    case 'c':
      return QStringLiteral(".");
    default:
      return QStringLiteral(".*");
  }
}

// `text` as a pattern that finds it inside a longer text, but never inside
// a word.
QRegularExpression textPattern(const QString& text) {
  QString pattern;
  QString literal;
  for (qsizetype i = 0; i < text.size(); i++) {
    if (text[i] != QLatin1Char('%') || i + 1 == text.size()) {
      literal += text[i];
      continue;
    }
    qsizetype end = i + 1;
    while (end < text.size() && QStringLiteral("-+ #0123456789.*hlLqjzt").contains(text[end]))
      end++;
    if (end == text.size()) {
      literal += text.mid(i);
      break;
    }
    if (text[end] == QLatin1Char('%')) {
      literal += QLatin1Char('%');
    } else {
      pattern += QRegularExpression::escape(literal) + conversionPattern(text[end]);
      literal.clear();
    }
    i = end;
  }
  pattern += QRegularExpression::escape(literal);
  if (text.front().isLetter()) pattern.prepend(QStringLiteral("(?<!\\p{L})"));
  if (text.back().isLetter()) pattern += QStringLiteral("(?!\\p{L})");
  QRegularExpression expression(pattern, QRegularExpression::DotMatchesEverythingOption |
                                             QRegularExpression::UseUnicodePropertiesOption);
  expression.optimize();
  return expression;
}

}  // namespace

std::vector<ShownText> ShownTexts(const QObject& root) {
  std::vector<ShownText> texts;
  Gatherer(texts).walk(root, QString());
  return texts;
}

LanguageTable::LanguageTable(const language_texts::Table& table) {
  QStringList all;
  for (const char* text : table) {
    if (text == nullptr || *text == '\0') continue;
    all << withoutMnemonics(QString::fromUtf8(text));
    texts_.insert(all.back());
  }
  std::sort(all.begin(), all.end(),
            [](const QString& a, const QString& b) { return a.size() > b.size(); });
  for (const QString& text : all) patterns_.push_back(textPattern(text));
}

void LanguageTable::AddData(const QString& data) {
  data_ << data;
  std::sort(data_.begin(), data_.end(),
            [](const QString& a, const QString& b) { return a.size() > b.size(); });
}

bool LanguageTable::Accepts(const QString& shown) const {
  QString rest = withoutMnemonics(shown);
  if (!hasLetter(rest) || texts_.contains(rest)) return true;
  // What is neither data nor a table text is left with its letters. Table
  // texts go first, as one may name data (the product); then the data, and
  // the table texts again where data stood between them.
  const QString taken(QChar(1));
  const auto takeTableTexts = [&] {
    for (const QRegularExpression& pattern : patterns_) {
      if (!hasLetter(rest)) return;
      rest.replace(pattern, taken);
    }
  };
  takeTableTexts();
  for (const QString& data : data_) rest.replace(data, taken);
  takeTableTexts();
  return !hasLetter(rest);
}
