// What every settings editor shares: a value copy of the controller's settings
// taken at opening (the original is never written), "OK" that sends while the
// link is usable and then closes, "Anuluj" and Esc that close without sending,
// and on closing by any path the re-read of what the controller now holds.
#pragma once

#include "core/controller.h"
#include "settings/editorfields.h"

#include <QPushButton>
#include <QWidget>
#include <functional>
#include <vector>

namespace qta {

class TEntryBox;
class TMarkerPair;

class TEditorWindow : public QWidget {
    Q_OBJECT
public:
    // `rereadCode`: the main window's Czytaj_Parametry after closing (1 the
    // configuration, 2 the customisation; 0 asks for nothing).
    TEditorWindow(TQTA504Core& core, int rereadCode, QWidget* parent = nullptr);
    ~TEditorWindow() override;

    // The copy every control edits; taken once, at creation.
    TKonf Konfig_Kopia;
    // The settings as the controller reported them when the window opened.
    const TKonf& reported() const { return reported_; }
    TQTA504Core& core() const { return core_; }

    // The frame "OK" sends, built from Konfig_Kopia. Empty: nothing to send.
    virtual QByteArray frameToSend() const { return {}; }

    // Sends `frame` byte by byte through the main window's port. A transmit
    // error goes to the error box, the rest of the frame is not sent and the
    // result is false.
    bool sendFrame(const QByteArray& frame);

    // "OK": judges the box being left, asks confirmQuestion() when there is
    // one, sends frameToSend() while the link is usable, then closes. A box
    // with text that is not a number, a "Popraw" answer or a transmit error
    // keep the window open.
    void OkClick();
    // "Anuluj" and Esc.
    void CancelClick();
    // Closes the window (its frame inside the main window's area).
    void closeWindow();

    // A question to ask before sending ("" for none); the editors override it.
    virtual QString confirmQuestion() const { return {}; }
    // Asks the question: true to send. Replaceable (tests answer it themselves).
    std::function<bool(const QString& question)> confirm;

    // Builders of the shared controls: a box or a marker bound to a field of
    // Konfig_Kopia, "OK" and "Anuluj" under their component names.
    TEntryBox* addEntry(const TFieldDesc& desc, QWidget* parent);
    TMarkerPair* addMarker(const TFieldDesc& desc, const QString& onName, const QString& offName,
                           QWidget* parent);
    QPushButton* addOkButton(const QString& component, QWidget* parent);
    QPushButton* addCancelButton(const QString& component, QWidget* parent);

    const std::vector<TEntryBox*>& entries() const { return entries_; }
    const std::vector<TMarkerPair*>& markers() const { return markers_; }
    TEntryBox* entry(const QString& component) const;
    TMarkerPair* marker(const QString& component) const;

    bool isClosed() const { return closed_; }

    // Writes every control from Konfig_Kopia (the editors fill their lists too).
    virtual void showCopy(bool opening);
    // Marks every control whose value in the copy differs from what the
    // controller reported (after a file has been read).
    virtual void markDifferences();
    // Differences are shown once a file has been read.
    bool marksShown() const { return marksShown_; }
    bool differs(const TFieldDesc& desc) const {
        return desc.get(Konfig_Kopia) != desc.get(reported_);
    }

    // Backup of the copy in a file ("Zapisz…", "Wczytaj…"): the section and
    // first comment line of the file and the fields it holds.
    void setBackup(const QString& section, const QString& title,
                   const std::vector<TFieldDesc>& fields);
    QPushButton* addSaveButton(QWidget* parent);
    QPushButton* addLoadButton(QWidget* parent);
    void SaveClick();
    void LoadClick();
    // The same without a dialog; false when nothing was written / read.
    bool saveTo(const QString& path);
    bool loadFrom(const QString& path);
    // Asks for a file name (save: where to write); empty when cancelled. Replaceable.
    std::function<QString(bool save)> askPath;
    // Tells the user what a file did not bring in. Replaceable.
    std::function<void(const QString&)> inform;

Q_SIGNALS:
    // The frame went out whole.
    void frameSent(const QByteArray& frame);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TQTA504Core& core_;
    TKonf reported_;
    int rereadCode_;
    bool closed_ = false;
    std::vector<TEntryBox*> entries_;
    std::vector<TMarkerPair*> markers_;
    std::vector<const TFieldDesc*> entryDescs_, markerDescs_;
    QString backupSection_, backupTitle_;
    const std::vector<TFieldDesc>* backupFields_ = nullptr;
    bool marksShown_ = false;
};

} // namespace qta
