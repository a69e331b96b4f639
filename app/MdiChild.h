// The forms that live as MDI children of the main window (the support
// list, the searches, the support browsers) and that may also be shown on
// their own, as the tests show them.
#pragma once

class QWidget;

// Closes the form as its close button does: the MDI frame around it when
// it has one (which asks the form first), else the form itself.
void CloseMdiChild(QWidget& form);
