#pragma once

// What the windows ask of the desktop: message boxes, file dialogs, the
// launcher, the beep and the end of the program. Windows call it through
// this interface so tests can answer in place of a person.

#include "platform/desktop/SignerDetails.h"
#include "platform/signature/Certificate.h"

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QUrl>
#include <optional>

class QCoreApplication;
class QFileDialog;
class QPushButton;
class QWidget;

namespace selavia::desktop {

enum class MessageIcon { Information, Exclamation, Critical };

// A save or open dialog. `filter` is one or more entries written as
// "description (*.ext)|*.ext", joined by "|"; the first is chosen.
struct FileDialogRequest {
    QString title;
    QString fileName;
    QString filter;
    QString initialFolder;
};

class Desktop {
public:
    virtual ~Desktop() = default;

    virtual void message(QWidget* parent, MessageIcon icon, const QString& title,
                         const QString& text) = 0;
    // An exclamation message with "Sim" and "Não", "Não" the default; true
    // only when the user chose "Sim".
    virtual bool confirm(QWidget* parent, const QString& title, const QString& text) = 0;
    // The chosen path, or nullopt when the user cancelled. Asks before
    // overwriting, requires the folder to exist, never resolves symbolic links.
    virtual std::optional<QString> saveFileName(QWidget* parent,
                                                const FileDialogRequest& request) = 0;
    virtual std::optional<QString> openFileName(QWidget* parent,
                                                const FileDialogRequest& request) = 0;
    // Opens a file or a web address with the program the desktop associates
    // with it; false when no program could be started for it.
    virtual bool open(const QUrl& target) = 0;
    // The certificate dialog (`Display`), modal over `parent`; for a
    // signer's own certificate, `signer` tells what the signature says of it.
    virtual void showCertificate(QWidget* parent, const CertificateView& certificate,
                                 const std::optional<SignerDetails>& signer) = 0;
    virtual void beep() = 0;
    // Ends the program at once.
    virtual void endProgram() = 0;
};

// The real desktop: QMessageBox, QFileDialog, QDesktopServices.
class QtDesktop : public Desktop {
public:
    void message(QWidget* parent, MessageIcon icon, const QString& title,
                 const QString& text) override;
    bool confirm(QWidget* parent, const QString& title, const QString& text) override;
    std::optional<QString> saveFileName(QWidget* parent, const FileDialogRequest& request) override;
    std::optional<QString> openFileName(QWidget* parent, const FileDialogRequest& request) override;
    bool open(const QUrl& target) override;
    void showCertificate(QWidget* parent, const CertificateView& certificate,
                         const std::optional<SignerDetails>& signer) override;
    void beep() override;
    void endProgram() override;
};

// Sets `dialog` up for `request` as the open (`save` false) or save dialog:
// Qt's own dialog, its size and type columns as the document window tells them.
void prepareFileDialog(QFileDialog& dialog, const FileDialogRequest& request, bool save);

// The desktop's icon for the type of the file at `path` ("AddFileIcon"):
// from the MIME database's icon names in the icon theme, else the file icon
// provider's. A null pixmap when there is none.
QPixmap fileTypeIcon(const QString& path, int size);

// "description (*.ext)|*.ext", one entry or more joined by "|", as Qt name
// filters: "description (*.ext)", joined by ";;".
QString qtNameFilter(const QString& filter);

// The one filter entry for a file named `fileName` of the type `description`:
// "description (*.ext)|*.ext", or "description (*)|*" when the name has no
// extension.
QString fileDialogFilter(const QString& description, const QString& fileName);

// Qt's own dialogs and menus in the user's language (Qt's translations for
// the system locale), as the desktop's own dialogs would speak it.
void installTranslations(QCoreApplication& application);

// File-type icons under a bare window manager: when the desktop names no icon
// theme, hicolor, then Adwaita.
void useIconThemeFallbacks();

// A flat button that shows it can be pressed: raised while the pointer is
// over it or while it has the focus, which also draws the focus frame.
void giveFlatButtonFeedback(QPushButton* button);

} // namespace selavia::desktop
