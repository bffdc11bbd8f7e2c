#include "app/FrmMain.h"

#include "platform/desktop/Widgets.h"
#include "resources/Images.h"
#include "selavia/Version.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <optional>

namespace selavia::app {
namespace {

using desktop::named;

const QString kTitle = QStringLiteral("Selavia Reader");
// The program's own kind first, chosen; then each other kind; then all.
const QString kOpenFilter =
    QStringLiteral("Documento Assinado Selavia (*.slv)|*.slv|"
                   "Assinaturas (*.p7s *.p7m)|*.p7s;*.p7m|"
                   "Documento PDF assinado (*.pdf)|*.pdf|"
                   "Todos os arquivos assinados (*.slv *.p7s *.p7m *.pdf)|*.slv;*.p7s;*.p7m;*.pdf");
const QColor kLinkBlue(0, 0, 255);
const QColor kLinkReset(0, 0, 0);
constexpr QSize kClientSize(545, 345);
// The strip shows the top-left part of its picture.
constexpr int kStripWidth = 121;

QFont fontOf(const char* family, qreal pointSize, bool bold = false)
{
    QFont font{QLatin1String(family)};
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QLabel* label(const char* name, const QString& text)
{
    return named(new QLabel(text), name);
}

QLabel* icon(const char* name, resources::Picture picture)
{
    auto* image = named(new QLabel, name);
    image->setPixmap(resources::picture(picture, 16));
    image->setFixedSize(16, 16);
    return image;
}

// One pixel of an etched rule. The window, not the line, gets the pointer's
// movements over it, as over any bare background.
QFrame* ruleLine(const char* name, const QColor& colour, Qt::Orientation orientation)
{
    auto* line = named(new QFrame, name);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, colour);
    line->setPalette(palette);
    if (orientation == Qt::Horizontal)
        line->setFixedHeight(1);
    else
        line->setFixedWidth(1);
    line->setAttribute(Qt::WA_TransparentForMouseEvents);
    return line;
}

// Enter, Return and Space follow a link that has the focus.
bool isActivationKey(const QKeyEvent* key)
{
    return key->modifiers() == Qt::NoModifier &&
           (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
            key->key() == Qt::Key_Space);
}

void setLinkLook(QLabel* link, const QColor& colour, bool underline)
{
    QPalette palette = link->palette();
    palette.setColor(QPalette::WindowText, colour);
    link->setPalette(palette);
    QFont font = link->font();
    font.setUnderline(underline);
    link->setFont(font);
}

// The one local file a drag carries; nullopt for several, a folder or
// anything that is no local file.
std::optional<QString> droppedFile(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls())
        return std::nullopt;
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls[0].isLocalFile())
        return std::nullopt;
    const QString path = urls[0].toLocalFile();
    if (path.isEmpty() || QFileInfo(path).isDir())
        return std::nullopt;
    return path;
}

// Keeps the pointer's movements over a control from reaching the window, so
// that only the bare background resets the links.
class MoveSink : public QObject {
public:
    using QObject::QObject;

    void take(QWidget* control)
    {
        control->setMouseTracking(true);
        control->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::MouseMove)
            return false;
        // A button drags or presses as usual.
        if (static_cast<QMouseEvent*>(event)->buttons() != Qt::NoButton)
            return false;
        event->accept();
        return true;
    }
};

} // namespace

QString versionCaption(int major, int minor, int revision)
{
    return QStringLiteral("%1 %2.%3.%4").arg(kTitle).arg(major).arg(minor).arg(revision);
}

QString versionText(int major, int minor, int revision)
{
    return QStringLiteral("v.%1.%2.%3").arg(major).arg(minor).arg(revision);
}

struct FrmMain::Ui {
    QLabel* Picture1 = nullptr;
    QFrame* Line1 = nullptr;
    QFrame* Line2 = nullptr;
    QFrame* Line3 = nullptr;
    QFrame* Line4 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* lblSysVersion = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label13 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QWidget* face = nullptr; // what the window shows, in its scroll area
};

FrmMain::FrmMain(desktop::Desktop& desktop,
                 std::function<void(const QString& documentPath)> openDocument, QWidget* parent)
    : QWidget(parent), desktop_(desktop), openDocument_(std::move(openDocument)),
      ui_(std::make_unique<Ui>())
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(kTitle);
    setWindowIcon(resources::appIcon());
    setFont(fontOf("Arial", 8.25));
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
    // One signed file dropped here opens as if chosen in the open dialog.
    setAcceptDrops(true);
    Ui& ui = *ui_;
    auto* sink = new MoveSink(this);

    ui.Picture1 = named(new QLabel, "Picture1");
    ui.Picture1->setPixmap(resources::picture(resources::Picture::Strip,
                                              resources::ownSize(resources::Picture::Strip)));
    ui.Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui.Picture1->setFixedWidth(kStripWidth);
    // The picture is taller than the window; only its top shows.
    ui.Picture1->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    ui.Picture1->setCursor(Qt::ArrowCursor);
    ui.Line3 = ruleLine("Line3", QColor(128, 128, 128), Qt::Vertical);
    ui.Line4 = ruleLine("Line4", Qt::white, Qt::Vertical);

    // Title and version, bottoms together.
    ui.Label4 = label("Label4", kTitle);
    ui.Label4->setFont(fontOf("Verdana", 11.25, true));
    ui.lblSysVersion = label("lblSysVersion", QStringLiteral("versão"));
    ui.lblSysVersion->setFont(fontOf("Tahoma", 6.75));
    auto* title = new QHBoxLayout;
    title->setSpacing(4);
    title->addWidget(ui.Label4, 0, Qt::AlignBottom);
    title->addWidget(ui.lblSysVersion, 0, Qt::AlignBottom);
    title->addStretch(1);

    ui.Line1 = ruleLine("Line1", QColor(128, 128, 128), Qt::Horizontal);
    ui.Line2 = ruleLine("Line2", Qt::white, Qt::Horizontal);
    auto* rule = new QVBoxLayout;
    rule->setSpacing(0);
    rule->addWidget(ui.Line1);
    rule->addWidget(ui.Line2);

    // The description; its second line ends with the maker's name as a link.
    ui.Label3 = label("Label3", QStringLiteral("Leitor de Arquivos Assinados Digitalmente (.SLV) "
                                               "gerados através da suite de"));
    ui.Label1 = label("Label1", QStringLiteral("soluções da"));
    ui.Label2 = label("Label2", QString::fromUtf8(kMakerName));
    ui.Label2->setFont(fontOf("Arial", 8.25, true));
    setLinkLook(ui.Label2, kLinkBlue, false);
    ui.Label2->setCursor(Qt::PointingHandCursor);
    ui.Label5 = label("Label5", QStringLiteral("."));
    auto* makerLine = new QHBoxLayout;
    makerLine->setSpacing(0);
    makerLine->addWidget(ui.Label1);
    // The window's font: controls take it only once they belong to the window.
    makerLine->addSpacing(fontMetrics().horizontalAdvance(QLatin1Char(' ')));
    makerLine->addWidget(ui.Label2);
    makerLine->addWidget(ui.Label5);
    makerLine->addStretch(1);
    auto* description = new QVBoxLayout;
    description->setSpacing(1);
    description->addWidget(ui.Label3);
    description->addLayout(makerLine);

    // Four features, each after a bullet; the fourth runs to a second line.
    constexpr int kIconGap = 7;
    auto* features = new QVBoxLayout;
    features->setSpacing(0);
    const struct {
        const char* image;
        const char* name;
        const char* text;
    } featureRows[] = {
        {"Image1", "Label6", "Atesta a Integridade do documento assinado digitalmente"},
        {"Image2", "Label7", "Verifica a validade das assinaturas e certificados"},
        {"Image3", "Label8", "Diretivas de Segurança - Nível Avançado"},
        {"Image4", "Label9", "Segue rigorosamente aos padrões do ITI e ICP-Brasil. (#PKCS7)."},
    };
    for (const auto& feature : featureRows) {
        if (features->count() > 0)
            features->addSpacing(6);
        auto* line = new QHBoxLayout;
        line->setSpacing(kIconGap);
        line->addWidget(icon(feature.image, resources::Picture::Bullet));
        line->addWidget(label(feature.name, QString::fromUtf8(feature.text)), 1);
        features->addLayout(line);
    }
    auto* secondLine = new QHBoxLayout;
    secondLine->setSpacing(0);
    secondLine->addSpacing(16 + kIconGap);
    secondLine->addWidget(
        label("Label10", QStringLiteral("Verificando a validade jurídica aos arquivos assinados.")),
        1);
    features->addLayout(secondLine);

    // The web link: an icon and two lines under one hot zone that takes the
    // pointer's movements and clicks for all three.
    ui.Label13 = label("Label13", QStringLiteral("Conheça outros produtos da Suite de Soluções "
                                                 "para Assinatura Digital."));
    ui.Label12 = label("Label12", QString::fromUtf8(kWebAddress));
    ui.Label11 = named(new QLabel, "Label11");
    ui.Label11->setCursor(Qt::PointingHandCursor);
    // Beside the icon, the first line is as tall as the icon and centred on it.
    ui.Label13->setMinimumHeight(16);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(0);
    lines->addWidget(ui.Label13);
    lines->addWidget(ui.Label12);
    auto* linkBlock = new QHBoxLayout;
    linkBlock->setSpacing(kIconGap);
    linkBlock->addWidget(icon("Image6", resources::Picture::Link), 0, Qt::AlignTop);
    linkBlock->addLayout(lines);
    // The hot zone shares the block's cell and lies on top of it.
    auto* link = new QGridLayout;
    link->addLayout(linkBlock, 0, 0);
    link->addWidget(ui.Label11, 0, 0);
    auto* linkRow = new QHBoxLayout;
    linkRow->addLayout(link);
    linkRow->addStretch(1);

    ui.Command2 = named(new QPushButton(QStringLiteral("&Abrir Documento Assinado")), "Command2");
    ui.Command1 = named(new QPushButton(QStringLiteral("&Ok")), "Command1");
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {ui.Command2, ui.Command1}) {
        desktop::giveFlatButtonFeedback(button);
        button->setCursor(Qt::ArrowCursor);
        // A flat button shows only its caption: hugging it keeps the captions
        // in line with the text column and the rule's end.
        const QString caption = button->text().remove(QLatin1Char('&'));
        button->setFixedWidth(fontMetrics().horizontalAdvance(caption) + 12);
    }
    buttons->addWidget(ui.Command2);
    buttons->addStretch(1);
    buttons->addWidget(ui.Command1);

    auto* column = new QVBoxLayout;
    column->setContentsMargins(14, 12, 14, 12);
    column->setSpacing(0);
    column->addLayout(title);
    column->addSpacing(5);
    column->addLayout(rule);
    column->addSpacing(11);
    column->addLayout(description);
    column->addSpacing(16);
    column->addLayout(features);
    column->addStretch(1);
    column->addLayout(linkRow);
    column->addSpacing(14);
    column->addLayout(buttons);

    // The window's face, which scrolls on a screen smaller than it.
    auto* face = named(new QWidget, "face");
    ui.face = face;
    auto* window = new QHBoxLayout(face);
    window->setContentsMargins(0, 0, 0, 0);
    window->setSpacing(0);
    window->addWidget(ui.Picture1);
    window->addWidget(ui.Line3);
    window->addWidget(ui.Line4);
    window->addLayout(column, 1);

    // Only now do the controls belong to the window and can be stacked.
    ui.Label11->raise();

    // Everything but the links and the rules keeps the pointer's movements;
    // over the bare face they reach the window.
    for (QWidget* child : face->findChildren<QWidget*>()) {
        if (child != ui.Label2 && child != ui.Label11 &&
            !child->testAttribute(Qt::WA_TransparentForMouseEvents))
            sink->take(child);
    }
    // The links are reached with Tab as well, and named for screen readers.
    ui.Label11->setAccessibleName(ui.Label13->text() + QLatin1Char(' ') + ui.Label12->text());
    for (QLabel* link : {ui.Label2, ui.Label11}) {
        link->setMouseTracking(true);
        link->installEventFilter(this);
        link->setFocusPolicy(Qt::TabFocus);
    }

    // Not resizable beyond its size; wider or taller than usual only when
    // the fonts need it, smaller (scrolling) only when the screen is.
    window->activate();
    face->setFixedSize(kClientSize.expandedTo(window->minimumSize()));
    desktop::scrollInside(this, face);
    // The bare face is the window's background.
    face->setMouseTracking(true);
    face->installEventFilter(this);
    setMaximumSize(face->size());
    resize(face->size());
    desktop::pressButtonsWithEnter(this);
    ui.Command2->setFocus();

    connect(ui.Command1, &QPushButton::clicked, this, &FrmMain::Command1_Click);
    connect(ui.Command2, &QPushButton::clicked, this, &FrmMain::Command2_Click);
}

FrmMain::~FrmMain() = default;

void FrmMain::Form_Load()
{
    setWindowTitle(versionCaption(kVersionMajor, kVersionMinor, kVersionRevision));
    ui_->lblSysVersion->setText(versionText(kVersionMajor, kVersionMinor, kVersionRevision));
}

void FrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    desktop::fitToScreen(this);
    if (const QScreen* where = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(where->availableGeometry().center());
        move(frame.topLeft());
    }
}

void FrmMain::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void FrmMain::Form_Unload()
{
    // The document window is never loaded while this window is, so when no
    // document was chosen nothing is left and the program ends.
    if (unloaded_)
        return;
    unloaded_ = true;
    if (!handingOff_)
        desktop_.endProgram();
}

void FrmMain::Command1_Click()
{
    close();
}

void FrmMain::Command2_Click()
{
    desktop::FileDialogRequest request;
    request.title = QStringLiteral("Abrir Arquivo Assinado SLV ...");
    request.fileName = QString();
    request.filter = kOpenFilter;
    request.initialFolder = qEnvironmentVariable("MYDOC");
    const std::optional<QString> chosen = desktop_.openFileName(this, request);
    if (!chosen || chosen->isEmpty())
        return;
    openChosen(*chosen);
}

void FrmMain::openChosen(const QString& path)
{
    if (unloaded_)
        return;
    // Closed first, so the document window is the only one loaded; the
    // callback is kept aside because closing may schedule this window's end.
    handingOff_ = true;
    close();
    const auto openDocument = openDocument_;
    if (openDocument)
        openDocument(path);
}

void FrmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (droppedFile(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void FrmMain::dragMoveEvent(QDragMoveEvent* event)
{
    if (droppedFile(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void FrmMain::dropEvent(QDropEvent* event)
{
    const std::optional<QString> path = droppedFile(event->mimeData());
    if (!path) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // The whole load runs in the hand-over: after the drop has ended, so the
    // program the file came from is not kept waiting for its answer.
    QMetaObject::invokeMethod(
        this, [this, chosen = *path] { openChosen(chosen); }, Qt::QueuedConnection);
}

void FrmMain::mouseMoveEvent(QMouseEvent* event)
{
    Form_MouseMove();
    event->accept();
}

void FrmMain::Form_MouseMove()
{
    setCursor(Qt::ArrowCursor);
    for (QLabel* link : {ui_->Label2, ui_->Label12, ui_->Label13})
        setLinkLook(link, kLinkReset, false);
}

void FrmMain::Label2_MouseMove()
{
    setLinkLook(ui_->Label2, kLinkBlue, true);
}

void FrmMain::Label11_MouseMove()
{
    setLinkLook(ui_->Label12, kLinkBlue, true);
    setLinkLook(ui_->Label13, kLinkBlue, true);
}

void FrmMain::openWebAddress()
{
    if (!desktop_.open(QUrl(QString::fromUtf8(kWebAddress))))
        desktop_.message(this, desktop::MessageIcon::Information, kTitle,
                         QStringLiteral("Não foi encontrado um navegador para abrir o endereço %1.")
                             .arg(QString::fromUtf8(kWebAddress)));
}

bool FrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui_->face && event->type() == QEvent::MouseMove) {
        Form_MouseMove();
        return true;
    }
    if (watched != ui_->Label2 && watched != ui_->Label11)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::FocusIn:
        if (watched == ui_->Label2)
            Label2_MouseMove();
        else
            Label11_MouseMove();
        return event->type() == QEvent::MouseMove;
    case QEvent::FocusOut:
        Form_MouseMove();
        return false;
    case QEvent::KeyPress:
        if (isActivationKey(static_cast<QKeyEvent*>(event))) {
            openWebAddress();
            return true;
        }
        return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        return true;
    case QEvent::MouseButtonRelease: {
        // A click: pressed and released over the link.
        const auto* release = static_cast<QMouseEvent*>(event);
        if (release->button() == Qt::LeftButton &&
            static_cast<QWidget*>(watched)->rect().contains(release->position().toPoint()))
            openWebAddress();
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

} // namespace selavia::app
