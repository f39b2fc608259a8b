// The application object the viewer's tests run under: the viewer's own,
// with its error report recorded instead of shown in a message box.
#pragma once

#include <QStringList>

// Messages the application's error report received, oldest first.
QStringList& ReportedErrors();
// The details that came with each of them (empty when none).
QStringList& ReportedDetails();
