// The program's general handling of unexpected errors: a message box titled
// with the application's title; the program carries on.
#pragma once

#include <QApplication>
#include <QString>

namespace qta {

// The text shown: the message with a full stop added unless it ends in one.
QString errorBoxText(const QString& message);

// Shows the error box without blocking the caller (the receive path and the
// timers go on while it is open).
void showApplicationError(const QString& message);

// The window error boxes belong to (the main window), so that closing it ends
// the program even while a box is open.
void setErrorBoxOwner(QWidget* owner);

// Catches what an event handler lets escape and shows it.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace qta
