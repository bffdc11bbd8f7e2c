#include "platform/desktop/Desktop.h"

#include "fileinfo/FileHandler.h"
#include "platform/desktop/CertificateDialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPushButton>
#include <QStandardPaths>
#include <QTranslator>

namespace selavia::desktop {
namespace {

QMessageBox::Icon boxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Critical:
        break;
    }
    return QMessageBox::Critical;
}

// A file's size and type as the document window tells them: the size in
// the properties panel's units ("1,5 KB", steps of 1000) instead of the file
// system model's ("1,5 KiB"), the type by the name first, so that a .slv is
// not listed as the PDF its content looks like.
class PanelColumns : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        constexpr int kSizeColumn = 1;
        constexpr int kTypeColumn = 2;
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role == Qt::DisplayRole && files != nullptr &&
            (index.column() == kSizeColumn || index.column() == kTypeColumn)) {
            const QModelIndex source = mapToSource(index);
            if (!files->isDir(source)) {
                if (index.column() == kSizeColumn)
                    return fileinfo::SizeText(files->size(source));
                // A name that says nothing leaves the model's look at the content.
                // fileName() reads the display text of the column it is given.
                const QString byName =
                    fileinfo::TypeNameByName(files->fileName(source.siblingAtColumn(0)));
                if (!byName.isEmpty())
                    return byName;
            }
        }
        return QIdentityProxyModel::data(index, role);
    }
};

std::optional<QString> runDialog(QWidget* parent, const FileDialogRequest& request,
                                 QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, request.title, request.initialFolder);
    prepareFileDialog(dialog, request, mode == QFileDialog::AcceptSave);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace

void prepareFileDialog(QFileDialog& dialog, const FileDialogRequest& request, bool save)
{
    // Qt's own dialog, whatever the desktop offers: only it lists sizes and
    // types as the window does (a desktop's native dialog would say KiB).
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setProxyModel(new PanelColumns(&dialog));
    dialog.setWindowTitle(request.title);
    if (!request.initialFolder.isEmpty())
        dialog.setDirectory(request.initialFolder);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // A typed name of a file that does not exist is the caller's to report,
    // on opening as on saving.
    dialog.setFileMode(QFileDialog::AnyFile);
    // A link is a file like any other here: the path the user picked is used.
    dialog.setOption(QFileDialog::DontResolveSymlinks);
    dialog.setNameFilter(qtNameFilter(request.filter));
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
}

void QtDesktop::message(QWidget* parent, MessageIcon icon, const QString& title,
                        const QString& text)
{
    QMessageBox box(boxIcon(icon), title, text, QMessageBox::Ok, parent);
    box.exec();
}

bool QtDesktop::confirm(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Sim"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&Não"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtDesktop::saveFileName(QWidget* parent, const FileDialogRequest& request)
{
    return runDialog(parent, request, QFileDialog::AcceptSave);
}

std::optional<QString> QtDesktop::openFileName(QWidget* parent, const FileDialogRequest& request)
{
    return runDialog(parent, request, QFileDialog::AcceptOpen);
}

bool QtDesktop::open(const QUrl& target)
{
    return QDesktopServices::openUrl(target);
}

void QtDesktop::showCertificate(QWidget* parent, const CertificateView& certificate,
                                const std::optional<SignerDetails>& signer)
{
    CertificateDialog dialog(certificate, signer, parent);
    dialog.exec();
}

void QtDesktop::beep()
{
    QApplication::beep();
}

void QtDesktop::endProgram()
{
    QCoreApplication::exit(0);
}

QPixmap fileTypeIcon(const QString& path, int size)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    // The generic icon only when the type has none of its own: each look-up
    // walks the themes.
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull())
        icon = QFileIconProvider().icon(QFileInfo(path));
    return icon.isNull() ? QPixmap() : icon.pixmap(size, size);
}

QString qtNameFilter(const QString& filter)
{
    // Each entry is a description and its patterns: the dialog shows the
    // descriptions, which carry their patterns in parentheses.
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList descriptions;
    for (qsizetype i = 0; i < parts.size(); i += 2)
        descriptions << parts[i];
    return descriptions.join(QStringLiteral(";;"));
}

QString fileDialogFilter(const QString& description, const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot + 1 == fileName.size())
        return description + QStringLiteral(" (*)|*");
    const QString extension = fileName.mid(dot + 1);
    return QStringLiteral("%1 (*.%2)|*.%2").arg(description, extension);
}

void installTranslations(QCoreApplication& application)
{
    auto* translator = new QTranslator(&application);
    if (translator->load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

void useIconThemeFallbacks()
{
    // Where the desktop's themes live, in case the platform did not say.
    QStringList searchPaths = QIcon::themeSearchPaths();
    for (const QString& data :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QString icons = data + QStringLiteral("/icons");
        if (!searchPaths.contains(icons))
            searchPaths << icons;
    }
    QIcon::setThemeSearchPaths(searchPaths);
    if (QIcon::themeName().isEmpty())
        QIcon::setThemeName(QStringLiteral("hicolor"));
    if (QIcon::fallbackThemeName().isEmpty() ||
        QIcon::fallbackThemeName() == QLatin1String("hicolor"))
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
}

namespace {

// Raises its flat button under the pointer or with the focus.
class FlatButtonFeedback : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Enter:
        case QEvent::Leave:
        case QEvent::FocusIn:
        case QEvent::FocusOut: {
            // Not a button any more while it is being destroyed.
            auto* button = qobject_cast<QPushButton*>(watched);
            if (button == nullptr)
                break;
            const bool hovered = event->type() == QEvent::Enter ||
                                 (event->type() != QEvent::Leave && button->underMouse());
            const bool focused = event->type() == QEvent::FocusIn ||
                                 (event->type() != QEvent::FocusOut && button->hasFocus());
            button->setFlat(!hovered && !focused);
            break;
        }
        default:
            break;
        }
        return false;
    }
};

} // namespace

void giveFlatButtonFeedback(QPushButton* button)
{
    button->setFlat(true);
    button->installEventFilter(new FlatButtonFeedback(button));
}

} // namespace selavia::desktop
