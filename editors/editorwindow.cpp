#include "editors/editorwindow.h"

#include "editors/entrybox.h"
#include "editors/markerpair.h"
#include "settings/backupfile.h"
#include "settings/settingsframes.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QShortcut>

namespace qta {

TEditorWindow::TEditorWindow(TQTA504Core& core, int rereadCode, QWidget* parent)
    : QWidget(parent), Konfig_Kopia(core.Konfig), core_(core), reported_(core.Konfig),
      rereadCode_(rereadCode) {
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    esc->setContext(Qt::WidgetWithChildrenShortcut);
    connect(esc, &QShortcut::activated, this, &TEditorWindow::CancelClick);
    confirm = [this](const QString& question) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), question, QMessageBox::NoButton, this);
        box.setObjectName(QStringLiteral("OstrzezenieBox"));
        QPushButton* send =
            box.addButton(QStringLiteral("Wyślij mimo to"), QMessageBox::AcceptRole);
        QPushButton* fix = box.addButton(QStringLiteral("Popraw"), QMessageBox::RejectRole);
        send->setObjectName(QStringLiteral("WyslijMimoTo"));
        fix->setObjectName(QStringLiteral("Popraw"));
        box.setDefaultButton(fix);
        box.setEscapeButton(fix);
        box.exec();
        return box.clickedButton() == send;
    };
    askPath = [this](bool save) {
        const QString filter = QStringLiteral("Ustawienia (*.ini);;Wszystkie pliki (*)");
        return save ? QFileDialog::getSaveFileName(this, QStringLiteral("Zapisz ustawienia"),
                                                   backupSection_ + QStringLiteral(".ini"), filter)
                    : QFileDialog::getOpenFileName(this, QStringLiteral("Wczytaj ustawienia"),
                                                   QString(), filter);
    };
    inform = [this](const QString& text) {
        auto* box =
            new QMessageBox(QMessageBox::Information, windowTitle(), text, QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("WczytanieBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        box->show();
    };
}

TEditorWindow::~TEditorWindow() = default;

bool TEditorWindow::sendFrame(const QByteArray& frame) {
    try {
        transmitFrame(core_.ComPort, frame);
    } catch (const std::exception& e) {
        core_.reportError(QString::fromUtf8(e.what()));
        return false;
    }
    Q_EMIT frameSent(frame);
    return true;
}

void TEditorWindow::OkClick() {
    // The box being left is judged first (a click on OK has done so already;
    // a key press has not); a box still holding a bad text stops here, with
    // its error already shown.
    if (auto* box = qobject_cast<TEntryBox*>(focusWidget()); box && !box->Exit())
        return;
    for (TEntryBox* b : entries_)
        if (b->holdsBadText()) {
            b->setFocus();
            return;
        }
    if (core_.Flaga_Kom.OK) {
        const QString question = confirmQuestion();
        if (!question.isEmpty() && confirm && !confirm(question))
            return;
        const QByteArray frame = frameToSend();
        if (!frame.isEmpty() && !sendFrame(frame))
            return;
    }
    closeWindow();
}

void TEditorWindow::CancelClick() { closeWindow(); }

void TEditorWindow::closeWindow() {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        sub->close();
    else
        close();
}

void TEditorWindow::closeEvent(QCloseEvent* event) {
    // A window that closes judges no more boxes.
    for (TEntryBox* b : entries_)
        b->judgeOnExit = false;
    QWidget::closeEvent(event);
    if (!event->isAccepted() || closed_)
        return;
    closed_ = true;
    // A second later the main window asks the controller what it now holds.
    if (rereadCode_ != 0) {
        core_.requestReread(rereadCode_);
    }
}

TEntryBox* TEditorWindow::addEntry(const TFieldDesc& desc, QWidget* parent) {
    auto* b = new TEntryBox(desc, Konfig_Kopia, parent);
    b->onError = [this](const QString& m) { core_.reportError(m); };
    connect(b, &TEntryBox::stored, this, [this, b, s = &desc] {
        if (marksShown_)
            b->setMarked(differs(*s));
    });
    entries_.push_back(b);
    entryDescs_.push_back(&desc);
    return b;
}

TMarkerPair* TEditorWindow::addMarker(const TFieldDesc& desc, const QString& onName,
                                      const QString& offName, QWidget* parent) {
    auto* m = new TMarkerPair(
        onName, offName, desc.spoken, [this, g = desc.get] { return g(Konfig_Kopia) != 0; },
        [this, s = desc.set](bool on) { s(Konfig_Kopia, on ? 1 : 0); }, parent);
    connect(m, &TMarkerPair::toggled, this, [this, m, s = &desc] {
        if (marksShown_)
            m->setMarked(differs(*s));
    });
    markers_.push_back(m);
    markerDescs_.push_back(&desc);
    return m;
}

QPushButton* TEditorWindow::addOkButton(const QString& component, QWidget* parent) {
    auto* b = new QPushButton(QStringLiteral("OK"), parent);
    b->setObjectName(component);
    b->setAccessibleDescription(component);
    b->setAccessibleName(QStringLiteral("OK: wyślij ustawienia do sterownika i zamknij okno"));
    connect(b, &QPushButton::clicked, this, &TEditorWindow::OkClick);
    return b;
}

QPushButton* TEditorWindow::addCancelButton(const QString& component, QWidget* parent) {
    auto* b = new QPushButton(QStringLiteral("Anuluj"), parent);
    b->setObjectName(component);
    b->setAccessibleDescription(component);
    b->setAccessibleName(QStringLiteral("Anuluj: zamknij okno bez wysyłania"));
    connect(b, &QPushButton::clicked, this, &TEditorWindow::CancelClick);
    return b;
}

void TEditorWindow::showCopy(bool opening) {
    for (TEntryBox* b : entries_)
        b->showField(!opening && b->rule().kind == EntryKind::Tenths);
    for (TMarkerPair* m : markers_)
        m->refresh();
}

void TEditorWindow::markDifferences() {
    for (size_t i = 0; i < entries_.size(); ++i)
        entries_[i]->setMarked(differs(*entryDescs_[i]));
    for (size_t i = 0; i < markers_.size(); ++i)
        markers_[i]->setMarked(differs(*markerDescs_[i]));
}

void TEditorWindow::setBackup(const QString& section, const QString& title,
                              const std::vector<TFieldDesc>& fields) {
    backupSection_ = section;
    backupTitle_ = title;
    backupFields_ = &fields;
}

QPushButton* TEditorWindow::addSaveButton(QWidget* parent) {
    auto* b = new QPushButton(QStringLiteral("Zapisz…"), parent);
    b->setObjectName(QStringLiteral("Zapisz"));
    b->setAccessibleDescription(QStringLiteral("Zapisz"));
    b->setAccessibleName(QStringLiteral("Zapisz edytowane ustawienia do pliku"));
    connect(b, &QPushButton::clicked, this, &TEditorWindow::SaveClick);
    return b;
}

QPushButton* TEditorWindow::addLoadButton(QWidget* parent) {
    auto* b = new QPushButton(QStringLiteral("Wczytaj…"), parent);
    b->setObjectName(QStringLiteral("Wczytaj"));
    b->setAccessibleDescription(QStringLiteral("Wczytaj"));
    b->setAccessibleName(
        QStringLiteral("Wczytaj ustawienia z pliku do okna, bez wysyłania do sterownika"));
    connect(b, &QPushButton::clicked, this, &TEditorWindow::LoadClick);
    return b;
}

void TEditorWindow::SaveClick() {
    const QString path = askPath ? askPath(true) : QString();
    if (!path.isEmpty())
        saveTo(path);
}

void TEditorWindow::LoadClick() {
    const QString path = askPath ? askPath(false) : QString();
    if (!path.isEmpty())
        loadFrom(path);
}

bool TEditorWindow::saveTo(const QString& path) {
    if (!backupFields_)
        return false;
    // What the box being left holds counts (a click on the button has judged it).
    if (auto* box = qobject_cast<TEntryBox*>(focusWidget()); box && !box->Exit())
        return false;
    try {
        writeBackup(path, backupSection_, backupTitle_, *backupFields_, Konfig_Kopia, reported_.Id);
    } catch (const std::exception& e) {
        core_.reportError(QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

bool TEditorWindow::loadFrom(const QString& path) {
    if (!backupFields_)
        return false;
    TBackupLoad r;
    try {
        r = readBackup(path, backupSection_, *backupFields_, Konfig_Kopia);
    } catch (const std::exception& e) {
        core_.reportError(QString::fromUtf8(e.what()));
        return false;
    }
    Konfig_Kopia = r.konf;
    showCopy(false);
    marksShown_ = true;
    markDifferences();
    if (r.hasProblems() && inform)
        inform(r.message());
    return true;
}

TEntryBox* TEditorWindow::entry(const QString& component) const {
    for (TEntryBox* b : entries_)
        if (b->objectName() == component)
            return b;
    return nullptr;
}

TMarkerPair* TEditorWindow::marker(const QString& component) const {
    for (TMarkerPair* m : markers_)
        if (m->objectName() == component)
            return m;
    return nullptr;
}

} // namespace qta
