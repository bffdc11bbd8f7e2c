#include "platform/desktop/Desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPushButton>

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

std::optional<QString> runDialog(QWidget* parent, const FileDialogRequest& request,
                                 QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, request.title, request.initialFolder);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    // A link is a file like any other here: the path the user picked is used.
    dialog.setOption(QFileDialog::DontResolveSymlinks);
    dialog.setNameFilter(qtNameFilter(request.filter));
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace

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

void QtDesktop::open(const QUrl& target)
{
    QDesktopServices::openUrl(target);
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
    QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    if (icon.isNull())
        icon = QFileIconProvider().icon(QFileInfo(path));
    return icon.isNull() ? QPixmap() : icon.pixmap(size, size);
}

QString qtNameFilter(const QString& filter)
{
    return filter.section(QLatin1Char('|'), 0, 0);
}

} // namespace selavia::desktop
