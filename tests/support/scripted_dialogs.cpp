#include "tests/support/scripted_dialogs.h"

#include <QApplication>
#include <utility>

ScriptedMessageBoxes::ScriptedMessageBoxes(std::vector<BoxAnswer> answers)
    : answers_(answers.begin(), answers.end()), scope_([this](const BoxRequest& request) {
        shown_.push_back(request);
        if (answers_.empty()) return BoxAnswer::Closed;
        const BoxAnswer answer = answers_.front();
        answers_.pop_front();
        return answer;
      }) {}

ScriptedModals::ScriptedModals(std::function<void(QDialog&)> script)
    : script_(std::move(script)), scope_([this](QDialog& dialog) {
        count_++;
        dialog.setResult(QDialog::Rejected);
        dialog.show();
        QApplication::processEvents();
        script_(dialog);
        const int result = dialog.result();
        dialog.hide();
        return result;
      }) {}
