#include "app/DocumentPreview.h"

#include "platform/desktop/Widgets.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QLibrary>
#include <QLocale>
#include <QMimeDatabase>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace selavia::app {
namespace {

using desktop::named;

// PDF readers take a header anywhere in the first kilobyte.
constexpr qsizetype kPdfHeaderWindow = 1024;
// The bytes the type of a text is told from.
constexpr qsizetype kTypeHead = 4096;

// Formats whose readers read pixels only. SVG is left out: it may name
// other files to draw.
bool isPlainImageFormat(const QByteArray& format)
{
    static const QByteArrayList formats = {"png", "jpeg", "jpg", "gif", "bmp", "webp", "tiff"};
    return formats.contains(format.toLower());
}

QByteArray imageFormatOf(QByteArrayView content)
{
    QByteArray bytes = QByteArray::fromRawData(content.data(), content.size());
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    return QImageReader::imageFormat(&buffer);
}

QString sizeText(qint64 bytes)
{
    return QLocale(QLocale::Portuguese, QLocale::Brazil)
        .formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

QString buttonsHint()
{
    return QStringLiteral("Use \"Visualizar Documento\" para abri-lo com o programa associado "
                          "ou \"Extrair Documento\" para salvá-lo.");
}

// The module that draws and prints: installed among the program's own
// files, or, for a program of a build tree, where that build made it.
MakePreviewPane paneMaker()
{
    static const MakePreviewPane make = []() -> MakePreviewPane {
        const QString programs = QDir(QCoreApplication::applicationDirPath()).canonicalPath();
        QStringList candidates = {
            QDir(programs).filePath(QStringLiteral(SELAVIA_PREVIEW_MODULE_FROM_BIN))};
        const QString build = QDir(QStringLiteral(SELAVIA_BUILD_DIR)).canonicalPath();
        if (!build.isEmpty() && programs.startsWith(build + QLatin1Char('/')))
            candidates << QStringLiteral(SELAVIA_PREVIEW_MODULE_IN_BUILD);
        for (const QString& path : candidates) {
            if (!QFileInfo::exists(path))
                continue;
            QLibrary module(QDir::cleanPath(path));
            if (QFunctionPointer entry = module.resolve("selavia_make_preview_pane"))
                return reinterpret_cast<MakePreviewPane>(entry);
        }
        return nullptr;
    }();
    return make;
}

} // namespace

PreviewKind previewKindOf(QByteArrayView content, const QString& fileName)
{
    const QByteArray head = QByteArray::fromRawData(
        content.data(), std::min<qsizetype>(content.size(), kPdfHeaderWindow));
    if (head.contains("%PDF-"))
        return PreviewKind::Pdf;
    if (isPlainImageFormat(imageFormatOf(content)))
        return PreviewKind::Image;
    const QMimeType type = QMimeDatabase().mimeTypeForFileNameAndData(
        fileName,
        QByteArray::fromRawData(content.data(), std::min<qsizetype>(content.size(), kTypeHead)));
    if (!type.inherits(QStringLiteral("text/plain")))
        return PreviewKind::None;
    // A name may say text over bytes that are not.
    if (content.contains('\0'))
        return PreviewKind::None;
    return PreviewKind::Text;
}

DocumentPreview::DocumentPreview(QPushButton* view, QPushButton* extract, QWidget* parent)
    : QWidget(parent), view_(view), extract_(extract)
{
    setObjectName(QStringLiteral("preview"));
    auto* layout = new QVBoxLayout(this);
    stack_ = new QStackedWidget;
    layout->addWidget(stack_, 1);

    // Where nothing is shown: the type's icon, why, and the window's buttons.
    none_ = named(new QWidget, "previewNone");
    auto* noneLayout = new QVBoxLayout(none_);
    noneLayout->addStretch(1);
    noneIcon_ = named(new QLabel, "previewIcon");
    noneIcon_->setAlignment(Qt::AlignCenter);
    noneLayout->addWidget(noneIcon_);
    noneText_ = named(new QLabel, "lblPreview");
    noneText_->setWordWrap(true);
    noneText_->setAlignment(Qt::AlignCenter);
    noneText_->setTextFormat(Qt::PlainText);
    noneLayout->addWidget(noneText_);
    auto* noneButtons = new QHBoxLayout;
    noneView_ = named(new QPushButton(QStringLiteral("Visualizar Documento")), "btnPreviewView");
    noneExtract_ = named(new QPushButton(QStringLiteral("Extrair Documento")), "btnPreviewExtract");
    noneButtons->addStretch(1);
    noneButtons->addWidget(noneView_);
    noneButtons->addWidget(noneExtract_);
    noneButtons->addStretch(1);
    noneLayout->addLayout(noneButtons);
    noneLayout->addStretch(1);
    stack_->addWidget(none_);

    // The window's buttons do the work: the same checks and messages.
    connect(noneView_, &QPushButton::clicked, view_, &QPushButton::click);
    connect(noneExtract_, &QPushButton::clicked, extract_, &QPushButton::click);
    view_->installEventFilter(this);
    extract_->installEventFilter(this);
    syncButtons();
}

DocumentPreview::~DocumentPreview()
{
    view_->removeEventFilter(this);
    extract_->removeEventFilter(this);
}

void DocumentPreview::setDocument(std::optional<QByteArray> content, qint64 size,
                                  const QString& name)
{
    content_ = std::move(content);
    size_ = size;
    name_ = name;
    pending_ = true;
    if (isVisible())
        build();
}

void DocumentPreview::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (pending_)
        build();
}

bool DocumentPreview::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && (watched == view_ || watched == extract_))
        syncButtons();
    return QWidget::eventFilter(watched, event);
}

void DocumentPreview::syncButtons()
{
    noneView_->setEnabled(view_->isEnabled());
    noneExtract_->setEnabled(extract_->isEnabled());
}

void DocumentPreview::build()
{
    pending_ = false;
    if (pane_ != nullptr) {
        delete pane_;
        pane_ = nullptr;
    }
    if (!content_) {
        showNone(QStringLiteral("O documento tem %1, mais do que os %2 que podem ser "
                                "visualizados aqui.")
                     .arg(sizeText(size_), sizeText(kContentCap)));
        return;
    }
    kind_ = previewKindOf(*content_, name_);
    if (kind_ == PreviewKind::None) {
        showNone(QStringLiteral("Não há visualização disponível para este tipo de documento."));
        return;
    }
    if (kind_ == PreviewKind::Text && content_->size() > kTextCap) {
        showNone(QStringLiteral("O texto tem %1, mais do que os %2 que podem ser visualizados "
                                "aqui.")
                     .arg(sizeText(content_->size()), sizeText(kTextCap)));
        return;
    }
    QString failure = QStringLiteral("A visualização não está instalada.");
    if (MakePreviewPane make = paneMaker())
        pane_ = make(kind_, *content_, name_, &failure);
    if (pane_ == nullptr) {
        showNone(failure);
        return;
    }
    pane_->setObjectName(QStringLiteral("previewPane"));
    stack_->addWidget(pane_);
    stack_->setCurrentWidget(pane_);
}

void DocumentPreview::showNone(const QString& text)
{
    const QByteArray head = content_ ? content_->left(kTypeHead) : QByteArray();
    const QMimeType type = QMimeDatabase().mimeTypeForFileNameAndData(name_, head);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    noneIcon_->setPixmap(icon.isNull() ? QPixmap() : icon.pixmap(48, 48));
    noneText_->setText(text + QLatin1Char(' ') + buttonsHint());
    stack_->setCurrentWidget(none_);
}

bool DocumentPreview::print(QPrinter& printer)
{
    return pane_ != nullptr && pane_->print(printer);
}

} // namespace selavia::app
