#pragma once

// The document window: shows one verified signed file, its original
// document and its signatures.

#include "fileinfo/FileHandler.h"
#include "platform/desktop/Desktop.h"
#include "verify/TemporaryCopy.h"
#include "verify/Verification.h"

#include <QWidget>
#include <atomic>
#include <optional>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;

namespace selavia::app {

class FrmOpen : public QWidget {
    Q_OBJECT

public:
    // The controls, by their designer names.
    struct Ui;

    FrmOpen(desktop::Desktop& desktop, signature::TrustStore trustStore, QWidget* parent = nullptr);
    ~FrmOpen() override;

    // Titles the window and loads `documentPath`; an empty path ends the program.
    void Form_Load(const QString& documentPath);
    // Loads, verifies and shows one signed file.
    void ShowFile(const QString& aFilePath);

    // `SignedDocument`.
    const QString& originalName() const { return originalName_; }
    bool hasExtension() const { return hasExtension_; }
    QString tempCopyPath() const { return copy_ ? copy_->path() : QString(); }
    bool signaturesOk() const { return signaturesOk_; }
    // Whether the window has ended the program (closed, or loaded without a path).
    bool ended() const { return ended_; }
    // Ends the program as closing the window does, even while the legend
    // keeps the window from being closed: a signal, the session's end.
    void endSession();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BTN001_Click();
    void BTN002_Click();
    void BTN003_Click();
    void Command1_Click();
    void tvSigns_MouseUp(Qt::MouseButton button, const QPoint& globalPosition);
    void showTreeMenu(const QPoint& globalPosition);
    static bool isMenuKey(QEvent* event);
    QPoint treeMenuPosition() const;
    void showcertificate_Click();
    void showlegenda_Click();
    void savereport_Click();
    void extractversion_Click();
    // The signature whose signed version the selected node offers; null
    // when it offers none.
    const verify::PdfSignatureResult* selectedSignedVersion() const;
    void updateSignedVersionButton();
    void lblErrorDes_ContextMenu(const QPoint& position);
    // Whether a load finished (verified or failed): what a report tells.
    bool verificationDone() const;
    void Form_Unload();

    void ShowVerificationError(const verify::VerificationError& error);
    // The document of a detached signature: beside it, else as the user
    // chooses it; empty when the user cancels.
    QString detachedDocument(const QString& signaturePath);
    // The busy panel gives way to "Verificação cancelada."; Ok closes the window.
    void showCancelled();
    // Stops the load under way (Cancelar, Escape, the window closing).
    void cancelLoad();
    void showVerdict();
    void showVerifiedDocument();
    void showFileIcons();
    // Lets pending window events run; false when the window was closed meanwhile.
    bool letEventsRun();
    // Loads the document on a thread of its own while the window goes on
    // painting and taking input; the busy panel follows the work.
    void loadBesideEvents(const QString& aFilePath);
    void showProgress(qint64 sinceStart);
    fileinfo::FileErrorReporter propertyFailureBox();
    QString property(const QString& path, fileinfo::FileProperty selector);
    // The signed file's own rows: its type found by its name first.
    QString signedFileProperty(fileinfo::FileProperty selector);
    void fillSignedFileRows();
    void fillOriginalRows();
    void fillTree();
    // The temporary copy in place: written again from a new verifying read
    // when it is gone or was changed. Tells the user why not.
    bool ensureCopy(const QString& purpose);
    // A property of the temporary copy, or what the name alone tells
    // (without a message) when the copy could not be written.
    QString copyProperty(fileinfo::FileProperty selector);
    void setDocumentButtonsEnabled(bool enabled);
    void removeTempCopy();
    const verify::TreeNode* selectedNode() const;
    void refuseName(const QString& text);

    desktop::Desktop& desktop_;
    verify::LoadOptions loadOptions_;
    std::unique_ptr<Ui> ui_;

    verify::ValidationResult document_;
    // The load under way, shared with the worker that runs it.
    std::shared_ptr<verify::Verification> verification_;
    QString aFilePath_;
    QString originalName_;
    bool hasExtension_ = false;
    bool signaturesOk_ = false;
    std::unique_ptr<verify::TemporaryCopy> copy_;
    bool busyCursor_ = false;
    bool ended_ = false;
    // The load's thread reads these; the window writes them.
    bool loading_ = false;
    std::atomic<bool> cancelled_{false};
    std::atomic<qint64> progressDone_{0};
    std::atomic<qint64> progressTotal_{0};
    std::atomic<verify::LoadPhase> progressPhase_{verify::LoadPhase::Hashing};
};

} // namespace selavia::app
