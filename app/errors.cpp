#include "app/errors.h"

#include <QMessageBox>
#include <QPointer>
#include <cstdio>

namespace qta {

QString errorBoxText(const QString& message) {
    QString text = message.trimmed();
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    return text;
}

namespace {
QPointer<QWidget> boxOwner;
} // namespace

void setErrorBoxOwner(QWidget* owner) { boxOwner = owner; }

void showApplicationError(const QString& message) {
    const QString text = errorBoxText(message);
    std::fprintf(stderr, "qta504: %s\n", qPrintable(text));
    auto* box =
        new QMessageBox(QMessageBox::Critical, QApplication::applicationDisplayName(), text,
                        QMessageBox::Ok, boxOwner ? boxOwner.data() : QApplication::activeWindow());
    box->setObjectName(QStringLiteral("ErrorBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAccessibleName(QStringLiteral("Błąd: ") + text);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showApplicationError(QString::fromUtf8(e.what()));
    } catch (...) {
        showApplicationError(QStringLiteral("Nieoczekiwany błąd"));
    }
    return false;
}

} // namespace qta
