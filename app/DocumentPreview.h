#pragma once

// The verified document shown inside the document window: a PDF through
// Qt's PDF module, an image, or plain text, all from the bytes the
// verification kept in memory. Nothing here runs what it shows: the PDF
// module has no scripts, links are not followed, text is never rich text.

#include "app/PreviewPane.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QWidget>
#include <optional>

class QLabel;
class QPrinter;
class QPushButton;
class QStackedWidget;

namespace selavia::app {

// What the bytes are, for the preview: a PDF or an image by their content
// alone (whatever the name claims), text when the type the name and the
// bytes give is text and the bytes hold no binary.
PreviewKind previewKindOf(QByteArrayView content, const QString& fileName);

class DocumentPreview : public QWidget {
    Q_OBJECT

public:
    // Kept at most: what the load keeps in memory for the preview.
    static constexpr qint64 kContentCap = 64LL * 1024 * 1024;
    // Longer texts are not shown: a text view of that size stalls the window.
    static constexpr qint64 kTextCap = 8LL * 1024 * 1024;

    // `view` and `extract` are the window's own buttons; the preview offers
    // them where it shows nothing, and follows their enabled state.
    DocumentPreview(QPushButton* view, QPushButton* extract, QWidget* parent = nullptr);
    ~DocumentPreview() override;

    // The verified document: its bytes when they were kept (none when past
    // the cap), its size and its name. Built when the preview is first shown.
    void setDocument(std::optional<QByteArray> content, qint64 size, const QString& name);

    // What is shown; None until built and when nothing could be.
    PreviewKind kind() const { return pane_ != nullptr ? kind_ : PreviewKind::None; }
    // Prints what is shown without asking; false when nothing is shown or
    // the printer failed.
    bool print(QPrinter& printer);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    // Shows the type's icon, `text` and the window's buttons instead.
    void showNone(const QString& text);
    void syncButtons();

    QPushButton* view_;
    QPushButton* extract_;
    std::optional<QByteArray> content_;
    qint64 size_ = -1;
    QString name_;
    bool pending_ = false;
    PreviewKind kind_ = PreviewKind::None;

    QStackedWidget* stack_ = nullptr;
    PreviewPane* pane_ = nullptr;
    QWidget* none_ = nullptr;
    QLabel* noneIcon_ = nullptr;
    QLabel* noneText_ = nullptr;
    QPushButton* noneView_ = nullptr;
    QPushButton* noneExtract_ = nullptr;
};

} // namespace selavia::app
