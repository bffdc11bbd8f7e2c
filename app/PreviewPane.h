#pragma once

// The part of the preview that draws and prints a document: Qt's PDF module
// and its printing support. It lives in a module of its own that the window
// loads when a document is first previewed, so a start-up never pays for
// loading those libraries (and the network and Kerberos ones they bring).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <QWidget>

class QPrinter;

namespace selavia::app {

enum class PreviewKind { None, Pdf, Image, Text };

// The text of `bytes`: UTF-8 when they are valid UTF-8, else Latin-1.
inline QString plainTextOf(QByteArrayView bytes)
{
    // Stateless: a sequence cut at the end is an error too.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

// One document shown: its view and the controls that go with it (pages,
// zoom, print).
class PreviewPane : public QWidget {
public:
    using QWidget::QWidget;
    // Prints what is shown without asking; false when the printer failed.
    virtual bool print(QPrinter& printer) = 0;
};

// Makes the pane for `content` of `kind` (not None) under the name `name`;
// null with the reason in `failure` when the content cannot be shown.
using MakePreviewPane = PreviewPane* (*)(PreviewKind kind, const QByteArray& content,
                                         const QString& name, QString* failure);

} // namespace selavia::app

// The module's one entry, looked up by this name.
extern "C" Q_DECL_EXPORT selavia::app::PreviewPane*
selavia_make_preview_pane(selavia::app::PreviewKind kind, const QByteArray& content,
                          const QString& name, QString* failure);
