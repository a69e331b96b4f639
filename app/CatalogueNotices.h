// The catalogue's notices in the user's language: the one message that says
// what a start repaired, the refusal of a change, and the causes that come
// as errno values. Each text is a string of the language library, with the
// French text built in.
#pragma once

#include <QString>

#include "catalog/Cataloguenotices.h"

// Every line of the start's report, after a line that names the data
// folder; empty when the report is.
QString StartReportText(const TStartReport& report, const std::string& dataFolder);
// Its box's title: repaired when a line says a repair was made, else
// checked (what it says waits for the disk or a later start).
QString StartReportTitle(const TStartReport& report);

// The refusal, naming its file or folder and the cause.
QString ChangeRefusalText(const TChangeRefusal& refusal);

// The cause an errno stands for.
QString SystemErrorText(int error);

// Shows the start's report in one box, when there is anything to say.
void ShowStartReport(const TStartReport& report, const std::string& dataFolder);
