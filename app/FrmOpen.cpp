#include "app/FrmOpen.h"

#include "app/CertificateView.h"
#include "app/DocumentPreview.h"
#include "app/SignedVersion.h"
#include "app/modLayout.h"
#include "app/zFrmLegenda.h"
#include "platform/desktop/Widgets.h"
#include "platform/shell/ContentRisk.h"
#include "platform/signature/SignatureError.h"
#include "report/ReportHtml.h"
#include "report/VerificationReport.h"
#include "resources/Images.h"
#include "selavia/Version.h"
#include "verify/CadesText.h"
#include "verify/DetachedDocument.h"
#include "verify/DocumentName.h"
#include "verify/ResultSummary.h"
#include "verify/TreeKeys.h"
#include "verify/Verification.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <map>

namespace selavia::app {
namespace {

using desktop::named;

using fileinfo::FileProperty;

const QString kTitle = QStringLiteral("Selavia Reader");
constexpr qint64 kEventInterval = 40;  // ms between event runs while hashing
constexpr qint64 kProgressDelay = 500; // ms of work before the bar shows
constexpr int kNodeIndexRole = Qt::UserRole;

// A picture that carries meaning, named for screen readers.
QLabel* pictureLabel(const char* name, const QPixmap& pixmap, const QString& meaning)
{
    auto* label = named(new QLabel, name);
    label->setPixmap(pixmap);
    label->setFixedSize(32, 32);
    label->setAccessibleName(meaning);
    return label;
}

QLabel* heading(const char* name, const QString& text, int pointSize)
{
    auto* label = named(new QLabel(text), name);
    QFont font(QStringLiteral("Arial"), pointSize);
    font.setBold(true);
    label->setFont(font);
    return label;
}

// A tick or an exclamation mark beside a caption.
QFrame* statusPanel(const char* name, const char* imageName, resources::Picture picture,
                    const QString& meaning, const QString& caption)
{
    auto* panel = named(new QFrame, name);
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->addWidget(pictureLabel(imageName, resources::picture(picture, 32), meaning));
    auto* label = new QLabel(caption);
    label->setWordWrap(true);
    layout->addWidget(label, 1);
    return panel;
}

QString environmentText(const char* name)
{
    return qEnvironmentVariable(name);
}

} // namespace

struct FrmOpen::Ui {
    QWidget* FrmLoading = nullptr;
    QLabel* Label21 = nullptr;
    QProgressBar* progressBar = nullptr;
    QWidget* FrmError = nullptr;
    QLabel* lblErrorNum = nullptr;
    QPlainTextEdit* lblErrorDes = nullptr;
    QTabWidget* Tabs = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    std::map<int, QLineEdit*> text; // Text1 … Text15
    QFrame* frame_integridade_ok = nullptr;
    QFrame* FrameSignatures_ok = nullptr;
    QFrame* FrameSignatures_false = nullptr;
    QFrame* framecompatib = nullptr;
    QPushButton* Command1 = nullptr;
    QLabel* lblVerdict = nullptr;
    QPushButton* btnCancelar = nullptr;
    QTreeWidget* tvSigns = nullptr;
    QPushButton* BTN001 = nullptr;
    QPushButton* BTN002 = nullptr;
    QPushButton* BTN003 = nullptr;
    QPushButton* BTN004 = nullptr;
    DocumentPreview* preview = nullptr;
    QMenu* popMenu = nullptr;
    QAction* showlegenda = nullptr;
    QAction* sep0 = nullptr;
    QAction* showcertificate = nullptr;
    QAction* extractversion = nullptr;
    QAction* sep1 = nullptr;
    QAction* savereport = nullptr;

    QLineEdit* box(int number) const { return text.at(number); }
};

namespace {

// One tab of file properties: the icon and name, then the rows of the table.
// `what` names the file for screen readers ("documento assinado").
QWidget* propertiesTab(FrmOpen::Ui* ui, const char* imageName, QLabel*& image, const QString& what,
                       std::array<int, 7> boxes, std::array<const char*, 7> names)
{
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    auto* top = new QHBoxLayout;
    image = named(new QLabel, imageName);
    image->setFixedSize(32, 32);
    image->setAccessibleName(QStringLiteral("Ícone do tipo do ") + what);
    top->addWidget(image);
    ui->text[boxes[0]] = desktop::valueBox(names[0], QStringLiteral("Nome do ") + what);
    top->addWidget(ui->text[boxes[0]], 1);
    layout->addLayout(top);
    const QStringList labels = {QStringLiteral("Tipo de arquivo:"), QStringLiteral("Local:"),
                                QStringLiteral("Tamanho:"),         QStringLiteral("Criado em:"),
                                QStringLiteral("Modificado em:"),   QStringLiteral("Acessado em:")};
    auto* grid = new QGridLayout;
    int row = 0;
    grid->addWidget(desktop::etchedLine(), row++, 0, 1, 2);
    for (int i = 0; i < 6; ++i) {
        if (i == 3)
            grid->addWidget(desktop::etchedLine(), row++, 0, 1, 2);
        auto* label = new QLabel(labels[i]);
        grid->addWidget(label, row, 0);
        QString name = labels[i];
        name.chop(1);
        ui->text[boxes[i + 1]] = desktop::valueBox(names[i + 1], name);
        label->setBuddy(ui->text[boxes[i + 1]]);
        grid->addWidget(ui->text[boxes[i + 1]], row++, 1);
    }
    grid->addWidget(desktop::etchedLine(), row++, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    return tab;
}

} // namespace

FrmOpen::FrmOpen(desktop::Desktop& desktop, signature::TrustStore trustStore, QWidget* parent)
    : QWidget(parent), desktop_(desktop), loadOptions_(std::move(trustStore)),
      ui_(std::make_unique<Ui>())
{
    // The verification report names the signed file by its SHA-256, summed
    // from the verifying read, and the trust data it was judged against.
    loadOptions_.sumSignedFile = true;
    loadOptions_.nameTrust = true;
    setObjectName(QStringLiteral("FrmOpen"));
    setWindowTitle(kTitle);
    setWindowIcon(resources::appIcon());
    resize(560, 500);
    Ui& ui = *ui_;

    // Tab 0: the signed file.
    QWidget* signedTab = propertiesTab(
        &ui, "Image1", ui.Image1, QStringLiteral("documento assinado"), {1, 3, 4, 5, 11, 10, 9},
        {"Text1", "Text3", "Text4", "Text5", "Text11", "Text10", "Text9"});
    auto* signedLayout = static_cast<QVBoxLayout*>(signedTab->layout());
    ui.frame_integridade_ok =
        statusPanel("frame_integridade_ok", "Image5", resources::Picture::Tick,
                    QStringLiteral("Confirmado"), QStringLiteral("Integridade"));
    ui.FrameSignatures_ok =
        statusPanel("FrameSignatures_ok", "Image4", resources::Picture::Tick,
                    QStringLiteral("Confirmado"), QStringLiteral("Assinaturas e Certificados"));
    ui.FrameSignatures_false = statusPanel(
        "FrameSignatures_false", "Image7", resources::Picture::Exclamation,
        QStringLiteral("Atenção"),
        QStringLiteral("Assinaturas e Certificados - Atenção ! Verifique a aba 'Assinaturas e "
                       "Certificados'."));
    ui.FrameSignatures_ok->hide();
    ui.FrameSignatures_false->hide();
    signedLayout->addWidget(ui.frame_integridade_ok);
    signedLayout->addWidget(ui.FrameSignatures_ok);
    signedLayout->addWidget(ui.FrameSignatures_false);
    signedLayout->addStretch(1);

    // Tab 1: the original document.
    QWidget* originalTab = propertiesTab(
        &ui, "Image2", ui.Image2, QStringLiteral("documento original"), {2, 6, 7, 8, 14, 13, 12},
        {"Text2", "Text6", "Text7", "Text8", "Text14", "Text13", "Text12"});
    auto* originalLayout = static_cast<QVBoxLayout*>(originalTab->layout());
    ui.framecompatib = named(new QFrame, "framecompatib");
    ui.framecompatib->setAutoFillBackground(true);
    QPalette tooltip = ui.framecompatib->palette();
    tooltip.setColor(QPalette::Window, tooltip.color(QPalette::ToolTipBase));
    tooltip.setColor(QPalette::WindowText, tooltip.color(QPalette::ToolTipText));
    ui.framecompatib->setPalette(tooltip);
    ui.framecompatib->setFrameShape(QFrame::StyledPanel);
    auto* compat = new QGridLayout(ui.framecompatib);
    compat->addWidget(pictureLabel("Image6", resources::picture(resources::Picture::Alert, 32),
                                   QStringLiteral("Alerta")),
                      0, 0, 2, 1);
    compat->addWidget(heading("Label17", QStringLiteral("Incompatibilidade Detectada !"), 10), 0, 1,
                      1, 2);
    compat->addWidget(
        named(new QLabel(QStringLiteral("Definir extensão do documento original:")), "Label16"), 1,
        1, 1, 2);
    ui.text[15] = named(new QLineEdit, "Text15");
    ui.text[15]->setAccessibleName(QStringLiteral("Definir extensão do documento original"));
    compat->addWidget(ui.text[15], 2, 1);
    ui.Command1 = named(new QPushButton(QStringLiteral("Aplicar")), "Command1");
    compat->addWidget(ui.Command1, 2, 2);
    compat->setColumnStretch(1, 1);
    ui.framecompatib->hide();
    originalLayout->addWidget(ui.framecompatib);
    originalLayout->addStretch(1);

    // Tab 2: the signatures.
    auto* signaturesTab = new QWidget;
    auto* signaturesLayout = new QVBoxLayout(signaturesTab);
    signaturesLayout->addWidget(
        heading("Label2", QStringLiteral("Assinaturas e Certificados"), 10));
    auto* purpose =
        named(new QLabel(QStringLiteral("Identifica os responsáveis e/ou assinates assim "
                                        "como a integridade do documento.")),
              "LblOpen2");
    purpose->setWordWrap(true);
    signaturesLayout->addWidget(purpose);
    ui.tvSigns = named(new QTreeWidget, "tvSigns");
    ui.tvSigns->setAccessibleName(QStringLiteral("Assinaturas e Certificados"));
    ui.tvSigns->setHeaderHidden(true);
    ui.tvSigns->setIconSize(QSize(16, 16));
    // Long timestamp and chain texts scroll instead of being cut short.
    ui.tvSigns->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui.tvSigns->header()->setStretchLastSection(false);
    ui.tvSigns->viewport()->installEventFilter(this);
    ui.tvSigns->installEventFilter(this);
    signaturesLayout->addWidget(ui.tvSigns, 1);
    auto* hint =
        named(new QLabel(QStringLiteral("Clique com o botão direito do mouse na janela acima "
                                        "para visualizar as propriedades do objeto "
                                        "selecionado.")),
              "Label5");
    hint->setWordWrap(true);
    signaturesLayout->addWidget(hint);

    ui.Tabs = named(new QTabWidget, "Tabs");
    ui.Tabs->addTab(signedTab, QStringLiteral("Documento Assinado  "));
    ui.Tabs->addTab(originalTab, QStringLiteral("Documento Original "));
    ui.Tabs->addTab(signaturesTab, QStringLiteral("Assinaturas e Certificados "));
    ui.Tabs->setAccessibleName(QStringLiteral("Documento verificado"));
    ui.Tabs->tabBar()->setAccessibleName(QStringLiteral("Abas do documento verificado"));
    ui.Tabs->hide();

    // The error panel stands where the tabs would.
    ui.FrmError = named(new QWidget, "FrmError");
    auto* errorLayout = new QGridLayout(ui.FrmError);
    errorLayout->addWidget(pictureLabel("Image3", resources::picture(resources::Picture::Error, 32),
                                        QStringLiteral("Erro")),
                           0, 0, Qt::AlignTop);
    ui.lblErrorNum = named(new QLabel, "lblErrorNum");
    QFont errorFont(QStringLiteral("Tahoma"), 11);
    errorFont.setBold(true);
    ui.lblErrorNum->setFont(errorFont);
    ui.lblErrorNum->setStyleSheet(QStringLiteral("color: #800000;"));
    errorLayout->addWidget(ui.lblErrorNum, 0, 1);
    ui.lblErrorDes = named(new QPlainTextEdit, "lblErrorDes");
    ui.lblErrorDes->setReadOnly(true);
    ui.lblErrorDes->setAccessibleName(QStringLiteral("Descrição do erro"));
    errorLayout->addWidget(ui.lblErrorDes, 1, 0, 1, 2);
    errorLayout->setColumnStretch(1, 1);
    ui.FrmError->hide();

    ui.BTN002 = named(new QPushButton(QStringLiteral("&Visualizar Documento")), "BTN002");
    ui.BTN003 = named(new QPushButton(QStringLiteral("&Extrair Documento")), "BTN003");
    // A signed PDF's earlier versions: the one the signature selected in
    // the tree signed.
    ui.BTN004 = named(new QPushButton(QStringLiteral("Extrair versão &assinada")), "BTN004");
    ui.BTN004->hide();
    ui.BTN001 = named(new QPushButton(QStringLiteral("&Ok")), "BTN001");
    // The document itself, built when its tab is first shown.
    ui.preview = new DocumentPreview(ui.BTN002, ui.BTN003);
    ui.Tabs->addTab(ui.preview, QStringLiteral("Visualização"));
    // Wide enough for every tab's caption, the preview's among them: a tab
    // behind the bar's arrows is a tab nobody finds.
    resize(std::max(width(), ui.Tabs->tabBar()->sizeHint().width() + 40), height());
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {ui.BTN002, ui.BTN003, ui.BTN004, ui.BTN001})
        desktop::giveFlatButtonFeedback(button);
    buttons->addWidget(ui.BTN002);
    buttons->addWidget(ui.BTN003);
    buttons->addWidget(ui.BTN004);
    buttons->addStretch(1);
    buttons->addWidget(ui.BTN001);

    // Everything but the busy panel scrolls when the screen is too small.
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    // The file's verdict, over the tabs or the error panel alike: a line of
    // its own that a finished load fills.
    ui.lblVerdict = named(new QLabel, "lblVerdict");
    ui.lblVerdict->setWordWrap(true);
    ui.lblVerdict->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui.lblVerdict->setAccessibleName(QStringLiteral("Resultado da verificação"));
    ui.lblVerdict->hide();
    layout->addWidget(ui.lblVerdict);
    layout->addWidget(ui.Tabs, 1);
    layout->addWidget(ui.FrmError, 1);
    layout->addLayout(buttons);
    desktop::scrollInside(this, body);

    // The busy panel covers the whole client area, the buttons included.
    ui.FrmLoading = named(new QFrame(this), "FrmLoading");
    ui.FrmLoading->setAutoFillBackground(true);
    auto* loading = new QVBoxLayout(ui.FrmLoading);
    loading->addStretch(1);
    QLabel* analysing = heading("Label18", QStringLiteral("Analisando Documento"), 14);
    analysing->setAlignment(Qt::AlignCenter);
    loading->addWidget(analysing);
    ui.Label21 = named(new QLabel(QStringLiteral("Aguarde ...")), "Label21");
    QLabel* wait = ui.Label21;
    wait->setAlignment(Qt::AlignCenter);
    loading->addWidget(wait);
    ui.progressBar = named(new QProgressBar, "progressBar");
    ui.progressBar->setRange(0, 100);
    ui.progressBar->setAccessibleName(QStringLiteral("Progresso da verificação"));
    ui.progressBar->setTextVisible(true);
    ui.progressBar->setMaximumWidth(320);
    ui.progressBar->hide();
    loading->addWidget(ui.progressBar, 0, Qt::AlignHCenter);
    ui.btnCancelar = named(new QPushButton(QStringLiteral("&Cancelar")), "btnCancelar");
    loading->addWidget(ui.btnCancelar, 0, Qt::AlignHCenter);
    loading->addStretch(1);
    ui.FrmLoading->setGeometry(rect());
    ui.FrmLoading->raise();

    ui.popMenu = named(new QMenu(this), "popMenu");
    ui.showlegenda = ui.popMenu->addAction(QStringLiteral("Exibir &Legenda"));
    ui.showlegenda->setObjectName(QStringLiteral("showlegenda"));
    ui.sep0 = ui.popMenu->addSeparator();
    ui.sep0->setObjectName(QStringLiteral("sep0"));
    ui.showcertificate = ui.popMenu->addAction(QStringLiteral("Exibir &Certificado"));
    ui.showcertificate->setObjectName(QStringLiteral("showcertificate"));
    ui.extractversion = ui.popMenu->addAction(QStringLiteral("Extrair versão &assinada..."));
    ui.extractversion->setObjectName(QStringLiteral("extractversion"));
    ui.sep1 = ui.popMenu->addSeparator();
    ui.sep1->setObjectName(QStringLiteral("sep1"));
    ui.savereport = ui.popMenu->addAction(QStringLiteral("Salvar Relatório de Verificação..."));
    ui.savereport->setObjectName(QStringLiteral("savereport"));
    // A file that failed shows no tree: its report, which says Reprovado
    // and why, is offered from the error text's own menu.
    ui.lblErrorDes->setContextMenuPolicy(Qt::CustomContextMenu);

    connect(ui.btnCancelar, &QPushButton::clicked, this, &FrmOpen::cancelLoad);
    connect(ui.BTN001, &QPushButton::clicked, this, &FrmOpen::BTN001_Click);
    connect(ui.BTN002, &QPushButton::clicked, this, &FrmOpen::BTN002_Click);
    connect(ui.BTN003, &QPushButton::clicked, this, &FrmOpen::BTN003_Click);
    connect(ui.Command1, &QPushButton::clicked, this, &FrmOpen::Command1_Click);
    connect(ui.text[15], &QLineEdit::returnPressed, this, &FrmOpen::Command1_Click);
    connect(ui.showcertificate, &QAction::triggered, this, &FrmOpen::showcertificate_Click);
    connect(ui.showlegenda, &QAction::triggered, this, &FrmOpen::showlegenda_Click);
    connect(ui.savereport, &QAction::triggered, this, &FrmOpen::savereport_Click);
    connect(ui.extractversion, &QAction::triggered, this, &FrmOpen::extractversion_Click);
    connect(ui.BTN004, &QPushButton::clicked, this, &FrmOpen::extractversion_Click);
    connect(ui.tvSigns, &QTreeWidget::itemSelectionChanged, this,
            &FrmOpen::updateSignedVersionButton);
    connect(ui.lblErrorDes, &QWidget::customContextMenuRequested, this,
            &FrmOpen::lblErrorDes_ContextMenu);
    desktop::pressButtonsWithEnter(this);

    // Only the welcome window opens a dropped file. Here a drop is refused
    // everywhere, the text boxes included, which would take a dropped
    // file's address as text.
    setAcceptDrops(false);
    for (QWidget* child : findChildren<QWidget*>())
        child->setAcceptDrops(false);
}

FrmOpen::~FrmOpen()
{
    if (busyCursor_)
        QGuiApplication::restoreOverrideCursor();
    removeTempCopy();
}

void FrmOpen::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    ui_->FrmLoading->setGeometry(rect());
}

void FrmOpen::Form_Load(const QString& documentPath)
{
    setWindowTitle(QStringLiteral("%1 %2.%3.%4")
                       .arg(kTitle)
                       .arg(kVersionMajor)
                       .arg(kVersionMinor)
                       .arg(kVersionRevision));
    if (documentPath.isEmpty()) {
        ended_ = true;
        desktop_.endProgram();
        return;
    }
    ShowFile(documentPath);
}

void FrmOpen::ShowFile(const QString& aFilePath)
{
    aFilePath_ = aFilePath;
    show();
    desktop::fitToScreen(this);
    ui_->FrmLoading->show();
    ui_->FrmLoading->raise();
    // Enter or Space on the focused Cancelar stops the load, as Escape does.
    ui_->btnCancelar->setFocus();
    setDocumentButtonsEnabled(false);
    repaint();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    busyCursor_ = true;
    if (!letEventsRun())
        return;

    copy_ = std::make_unique<verify::TemporaryCopy>(environmentText("TEMP"));
    loadBesideEvents(aFilePath);
    // A detached signature read alone: once more over its document, found
    // beside it or chosen by the user; without one it fails as it did.
    if (!ended_ && !cancelled_ && loadOptions_.detachedContentPath.isEmpty() &&
        verify::needsDetachedDocument(document_)) {
        const QString document = detachedDocument(aFilePath);
        if (!document.isEmpty() && !ended_) {
            loadOptions_.detachedContentPath = document;
            copy_ = std::make_unique<verify::TemporaryCopy>(environmentText("TEMP"));
            loadBesideEvents(aFilePath);
        }
    }
    if (ended_) { // closed while the document was loaded
        removeTempCopy();
        return;
    }
    if (document_.error && cancelled_) {
        showCancelled();
        return;
    }
    if (document_.error) {
        ShowVerificationError(*document_.error);
        return;
    }
    showVerifiedDocument();
}

QString FrmOpen::detachedDocument(const QString& signaturePath)
{
    const QString beside = verify::documentBeside(signaturePath);
    if (!beside.isEmpty())
        return beside;
    const QFileInfo signature(signaturePath);
    desktop::FileDialogRequest request;
    request.title =
        QStringLiteral("Selecione o documento assinado por %1").arg(signature.fileName());
    request.filter = QStringLiteral("Todos os arquivos (*)|*");
    request.initialFolder = signature.absolutePath();
    // The dialog is the user's: the busy pointer is not.
    QGuiApplication::restoreOverrideCursor();
    const std::optional<QString> chosen = desktop_.openFileName(this, request);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    return chosen.value_or(QString());
}

void FrmOpen::showCancelled()
{
    ui_->FrmLoading->hide();
    ui_->FrmError->show();
    setDocumentButtonsEnabled(false);
    ui_->lblErrorNum->setText(QStringLiteral("Verificação cancelada."));
    ui_->lblErrorDes->clear();
    ui_->BTN001->setFocus();
    QGuiApplication::restoreOverrideCursor();
    busyCursor_ = false;
}

void FrmOpen::cancelLoad()
{
    cancelled_ = true;
    if (verification_)
        verification_->cancel();
}

void FrmOpen::showVerdict()
{
    // The same words as the report and the command line: the file's verdict
    // and every reason, one line of its own above the panels.
    const verify::Judgement& verdict = document_.verdict;
    QLabel* label = ui_->lblVerdict;
    label->setText(verify::verdictHeadline(document_));
    label->setAccessibleDescription(label->text());
    // The report's colours, so that the word looks the same in both.
    label->setStyleSheet(QStringLiteral("font-weight: bold; color: %1;")
                             .arg(report::verdictColour(verdict.verdict).name()));
    label->show();
}

void FrmOpen::showVerifiedDocument()
{
    Ui& ui = *ui_;
    fillSignedFileRows();
    ui.tvSigns->clear();
    if (!letEventsRun())
        return;
    fillTree();
    showVerdict();
    // Only a PDF has earlier versions to offer.
    ui.BTN004->setVisible(document_.pdf.has_value());
    updateSignedVersionButton();
    signaturesOk_ = document_.signaturesOk;
    if (document_.hasExtension) {
        hasExtension_ = true;
        originalName_ = document_.originalName;
        ui.Tabs->setCurrentIndex(0);
        setDocumentButtonsEnabled(true);
    } else {
        hasExtension_ = false;
        desktop_.message(this, desktop::MessageIcon::Information, kTitle,
                         QStringLiteral("Este documento assinado não possui uma propriedade de "
                                        "extensão válida.\r\nPara realizar a extração e/ou "
                                        "visualização, você deverá informar a extensão do "
                                        "documento original."));
        originalName_ = document_.originalName;
        ui.framecompatib->show();
        ui.box(15)->setText(originalName_ + QLatin1Char('.'));
        ui.Tabs->setCurrentIndex(1);
    }
    // A copy that could not be written does not stop the verification being
    // shown; viewing tells why.
    fillOriginalRows();
    ui.preview->setDocument(document_.content, document_.contentSize, originalName_);
    (signaturesOk_ ? ui.FrameSignatures_ok : ui.FrameSignatures_false)->show();
    ui.FrmLoading->hide();
    ui.Tabs->show();
    ui.Tabs->tabBar()->setFocus();
    QGuiApplication::restoreOverrideCursor();
    busyCursor_ = false;
    repaint();
    // The first look-up in the desktop's icon theme (reading its index)
    // takes longer than the rest of the window: the icons follow once the
    // window has painted. A zero timer fires when no event is pending, the
    // paint among them, where a queued call would come before the paint.
    auto* idle = new QTimer(this);
    idle->setSingleShot(true);
    connect(idle, &QTimer::timeout, this, [this, idle] {
        showFileIcons();
        idle->deleteLater();
    });
    idle->start(0);
}

void FrmOpen::showFileIcons()
{
    ui_->Image1->setPixmap(desktop::fileTypeIcon(aFilePath_, 32));
    ui_->Image2->setPixmap(desktop::fileTypeIcon(tempCopyPath(), 32));
}

void FrmOpen::ShowVerificationError(const verify::VerificationError& error)
{
    desktop_.beep();
    ui_->FrmLoading->hide();
    ui_->FrmError->show();
    setDocumentButtonsEnabled(false);
    ui_->lblErrorNum->setText(error.caption);
    ui_->lblErrorDes->setPlainText(error.text);
    ui_->BTN001->setFocus();
    showVerdict();
    QGuiApplication::restoreOverrideCursor();
    busyCursor_ = false;
}

void FrmOpen::loadBesideEvents(const QString& aFilePath)
{
    loading_ = true;
    QEventLoop loop;
    QElapsedTimer sinceStart;
    sinceStart.start();
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { showProgress(sinceStart.elapsed()); });
    ticker.start(kEventInterval);
    // The worker sees only the verification and these counters; the result
    // comes back by value and is taken here, on the window's thread.
    auto verification = std::make_shared<verify::Verification>(loadOptions_);
    verification->readFile(aFilePath)
        .intoCopy(*copy_)
        .keepContent(DocumentPreview::kContentCap)
        .onProgress([this](verify::LoadPhase phase, qint64 done, qint64 total) {
            progressPhase_ = phase;
            progressDone_ = done;
            progressTotal_ = total;
            return true;
        });
    verification_ = verification;
    if (cancelled_)
        verification->cancel();
    QFutureWatcher<verify::ValidationResult> watcher;
    connect(&watcher, &QFutureWatcher<verify::ValidationResult>::finished, &loop,
            &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run([verification] { return verification->run(); }));
    // The program's end stops every event loop, this one too: the work is
    // then told to stop, and waited for.
    if (!watcher.isFinished())
        loop.exec();
    if (ended_)
        cancelLoad();
    watcher.waitForFinished();
    document_ = watcher.result();
    verification_.reset();
    loading_ = false;
}

// The bar shows once the work has taken half a second; while the lists of
// revoked certificates are asked for, the panel says so.
void FrmOpen::showProgress(qint64 sinceStart)
{
    const qint64 total = progressTotal_;
    if (sinceStart < kProgressDelay || total <= 0)
        return;
    const bool revocation = progressPhase_ == verify::LoadPhase::Revocation;
    ui_->Label21->setText(revocation
                              ? QStringLiteral("Consultando listas de certificados revogados...")
                              : QStringLiteral("Aguarde ..."));
    ui_->progressBar->setValue(static_cast<int>(progressDone_ * 100 / total));
    ui_->progressBar->show();
}

bool FrmOpen::letEventsRun()
{
    QCoreApplication::processEvents();
    return !ended_;
}

fileinfo::FileErrorReporter FrmOpen::propertyFailureBox()
{
    return [this](const fileinfo::FileError& error) {
        desktop_.message(this, desktop::MessageIcon::Critical, kTitle, error.text());
    };
}

QString FrmOpen::property(const QString& path, FileProperty selector)
{
    return fileinfo::GetFileProperty(path, selector, propertyFailureBox());
}

QString FrmOpen::signedFileProperty(FileProperty selector)
{
    return fileinfo::GetSignedFileProperty(aFilePath_, selector, propertyFailureBox());
}

void FrmOpen::fillSignedFileRows()
{
    const Ui& ui = *ui_;
    ui.box(1)->setText(signedFileProperty(FileProperty::FileName));
    ui.box(3)->setText(signedFileProperty(FileProperty::TypeName));
    ui.box(4)->setText(signedFileProperty(FileProperty::Location));
    ui.box(5)->setText(signedFileProperty(FileProperty::SizeText));
    ui.box(9)->setText(signedFileProperty(FileProperty::DateLastAccessed));
    ui.box(10)->setText(signedFileProperty(FileProperty::DateLastModified));
    ui.box(11)->setText(signedFileProperty(FileProperty::DateCreated));
}

// The original document is shown with the folder and dates of the file it
// lives in (the signed file, or a detached signature's own document), and
// with the name, type, size and last access of its temporary copy.
void FrmOpen::fillOriginalRows()
{
    const Ui& ui = *ui_;
    const QString home =
        document_.detachedContentPath.isEmpty() ? aFilePath_ : document_.detachedContentPath;
    ui.box(2)->setText(copyProperty(FileProperty::FileName));
    ui.box(6)->setText(copyProperty(FileProperty::TypeName));
    ui.box(7)->setText(property(home, FileProperty::Location));
    ui.box(8)->setText(copyProperty(FileProperty::SizeText));
    ui.box(12)->setText(copyProperty(FileProperty::DateLastAccessed));
    ui.box(13)->setText(property(home, FileProperty::DateLastModified));
    ui.box(14)->setText(property(home, FileProperty::DateCreated));
}

void FrmOpen::fillTree()
{
    std::map<QString, QTreeWidgetItem*> items;
    for (size_t i = 0; i < document_.tree.size(); ++i) {
        const verify::TreeNode& node = document_.tree[i];
        auto parent = items.find(node.parentKey);
        QTreeWidgetItem* item = parent != items.end() ? new QTreeWidgetItem(parent->second)
                                                      : new QTreeWidgetItem(ui_->tvSigns);
        item->setText(0, node.text);
        // Long texts (the time-stamp origin) may not fit the tree's width;
        // a signer's node also tells its verdict, which its picture cannot.
        const QString more = node.description.isEmpty()
                                 ? node.text
                                 : node.text + QLatin1Char('\n') + node.description;
        item->setToolTip(0, more);
        item->setData(0, Qt::AccessibleDescriptionRole, node.description);
        item->setIcon(0, resources::treeImage(node.imageKey));
        item->setData(0, kNodeIndexRole, static_cast<int>(i));
        items[node.key] = item;
    }
    // Expanding after all children exist, so the branches open as built.
    for (size_t i = 0; i < document_.tree.size(); ++i)
        items[document_.tree[i].key]->setExpanded(document_.tree[i].expanded);
}

bool FrmOpen::ensureCopy(const QString& purpose)
{
    // Ended while a message was up (a termination signal): the copy and its
    // folder are already gone and stay gone.
    if (ended_)
        return false;
    if (copy_->present())
        return true;
    std::optional<fileinfo::FileError> failure;
    if (!document_.verified()) {
        failure = fileinfo::MakeFileError(fileinfo::error_number::kPathFileAccess);
    } else {
        verify::ValidationResult again = verify::Verification(loadOptions_)
                                             .readFile(document_.filePath)
                                             .expectContent(document_.contentSha256)
                                             .intoCopy(*copy_)
                                             .run();
        failure = again.outputFailure;
        if (!again.verified())
            failure = verify::signedFileChanged();
    }
    if (failure) {
        desktop_.message(this, desktop::MessageIcon::Critical, kTitle,
                         QStringLiteral("Não foi possível gravar a cópia temporária do "
                                        "documento em \"%1\" %2.\r\n%3")
                             .arg(tempCopyPath(), purpose, failure->text()));
        return false;
    }
    ui_->Image2->setPixmap(desktop::fileTypeIcon(tempCopyPath(), 32));
    fillOriginalRows();
    return true;
}

QString FrmOpen::copyProperty(FileProperty selector)
{
    if (copy_->present())
        return property(tempCopyPath(), selector);
    switch (selector) {
    case FileProperty::FileName:
        return originalName_;
    case FileProperty::Extension:
        return originalName_.section(QLatin1Char('.'), -1);
    case FileProperty::TypeName:
        return fileinfo::TypeNameOfName(originalName_);
    default:
        return {};
    }
}

void FrmOpen::setDocumentButtonsEnabled(bool enabled)
{
    ui_->BTN002->setEnabled(enabled);
    ui_->BTN003->setEnabled(enabled);
}

// The copy lives in the private folder and goes with it.
void FrmOpen::removeTempCopy()
{
    copy_.reset();
}

void FrmOpen::closeEvent(QCloseEvent* event)
{
    // While the legend is open the window takes no input, its close box
    // included; the legend gives it back.
    if (!isEnabled() && !ended_) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void FrmOpen::endSession()
{
    Form_Unload();
    close();
}

void FrmOpen::Form_Unload()
{
    if (ended_)
        return;
    ended_ = true;
    cancelLoad();
    // A load still running writes into the copy: it goes once the load stopped.
    if (!loading_)
        removeTempCopy();
    desktop_.endProgram();
}

void FrmOpen::BTN001_Click()
{
    close();
}

void FrmOpen::BTN002_Click()
{
    if (!ensureCopy(QStringLiteral("para visualizá-lo")))
        return;
    const QString copyPath = tempCopyPath();
    // The desktop opens the copy by its name and content; a program or a
    // disguised type must not start on a click meant for reading.
    QByteArray head;
    if (QFile copy(copyPath); copy.open(QIODevice::ReadOnly))
        head = copy.read(shell::kContentHeadSize);
    const shell::ContentAssessment assessment =
        shell::assessContent(head, QFileInfo(copyPath).fileName());
    if (assessment.risk != shell::ContentRisk::None &&
        !desktop_.confirm(this, kTitle, shell::contentWarning(assessment, originalName_)))
        return;
    if (!desktop_.open(QUrl::fromLocalFile(copyPath)))
        desktop_.message(this, desktop::MessageIcon::Information, kTitle,
                         QStringLiteral("Não foi encontrado um programa associado a este tipo de "
                                        "documento. Use \"Extrair Documento\" para salvá-lo."));
}

void FrmOpen::BTN003_Click()
{
    desktop::FileDialogRequest request;
    request.title = QStringLiteral("Abrir Arquivo Assinado SLV ...");
    request.fileName = copyProperty(FileProperty::FileName);
    request.filter =
        desktop::fileDialogFilter(copyProperty(FileProperty::TypeName), request.fileName);
    request.initialFolder = environmentText("MYDOC");
    std::optional<QString> target = desktop_.saveFileName(this, request);
    if (!target)
        return;
    // The dialog asked before replacing a file: what is at the path is
    // replaced, never what a link there points to. The bytes come from the
    // verified copy.
    std::optional<fileinfo::FileError> failure = copy_->copyTo(*target, fileinfo::Replace::Entry);
    // No copy to take it from (it could not be written, went, or a viewer
    // saved over it): a new verifying read, of the same content only.
    if (failure && !copy_->present()) {
        verify::ValidationResult again = verify::Verification(loadOptions_)
                                             .readFile(document_.filePath)
                                             .expectContent(document_.contentSha256)
                                             .extractTo(*target, fileinfo::Replace::Entry)
                                             .run();
        failure = again.verified() ? again.outputFailure : verify::signedFileChanged();
    }
    if (failure) {
        desktop_.message(this, desktop::MessageIcon::Critical, kTitle,
                         QStringLiteral("Não foi possível gravar o documento em \"%1\".\r\n%2")
                             .arg(*target, failure->text()));
    }
}

void FrmOpen::refuseName(const QString& text)
{
    desktop_.message(this, desktop::MessageIcon::Critical, kTitle, text);
}

void FrmOpen::Command1_Click()
{
    // A name that cannot be a file in the private folder is refused before
    // anything changes, so the window keeps its state.
    const std::optional<QString> name = verify::typedDocumentName(ui_->box(15)->text());
    if (!name) {
        refuseName(QStringLiteral("Não é possível usar \"%1\" como nome do documento.")
                       .arg(ui_->box(15)->text().trimmed().toLower()));
        return;
    }
    if (!ensureCopy(QStringLiteral("como \"%1\"").arg(*name)))
        return;
    if (std::optional<fileinfo::FileError> failure = copy_->rename(*name)) {
        refuseName(QStringLiteral("Não foi possível gravar o documento como \"%1\".\r\n%2")
                       .arg(*name, failure->text()));
        return;
    }
    originalName_ = *name;
    if (property(tempCopyPath(), FileProperty::Extension).isEmpty()) {
        refuseName(QStringLiteral("Você deve informar uma exntesão válida."));
        return;
    }
    ui_->Image2->setPixmap(desktop::fileTypeIcon(tempCopyPath(), 32));
    fillOriginalRows();
    hasExtension_ = true;
    setDocumentButtonsEnabled(true);
    ui_->framecompatib->hide();
    repaint();
}

const verify::TreeNode* FrmOpen::selectedNode() const
{
    QTreeWidgetItem* item = ui_->tvSigns->currentItem();
    if (item == nullptr || !item->isSelected())
        return nullptr;
    const int index = item->data(0, kNodeIndexRole).toInt();
    if (index < 0 || static_cast<size_t>(index) >= document_.tree.size())
        return nullptr;
    return &document_.tree[static_cast<size_t>(index)];
}

void FrmOpen::keyPressEvent(QKeyEvent* event)
{
    // While loading, Escape is the busy panel's Cancelar; once loaded, &Ok.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (loading_)
            cancelLoad();
        else
            BTN001_Click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool FrmOpen::eventFilter(QObject* watched, QEvent* event)
{
    QTreeWidget* tree = ui_->tvSigns;
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (watched == tree->viewport() && (press || event->type() == QEvent::MouseButtonRelease)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!press) {
            tvSigns_MouseUp(mouse->button(), mouse->globalPosition().toPoint());
        } else if (mouse->button() == Qt::RightButton) {
            // A right-click acts on the node under the pointer, as trees do here.
            if (QTreeWidgetItem* item = tree->itemAt(mouse->position().toPoint()))
                tree->setCurrentItem(item);
        }
    } else if (watched == tree && isMenuKey(event)) {
        showTreeMenu(treeMenuPosition());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// The Menu key and Shift+F10 open the tree's menu as a right-click does.
bool FrmOpen::isMenuKey(QEvent* event)
{
    if (event->type() == QEvent::ContextMenu)
        return static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard;
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    return key->key() == Qt::Key_Menu ||
           (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
}

// Under the selected node, or at the tree's corner when none is.
QPoint FrmOpen::treeMenuPosition() const
{
    QTreeWidget* tree = ui_->tvSigns;
    const QTreeWidgetItem* item = tree->currentItem();
    const QRect area = item != nullptr ? tree->visualItemRect(item) : QRect();
    return tree->viewport()->mapToGlobal(area.isValid() ? area.bottomLeft() : QPoint(0, 0));
}

void FrmOpen::tvSigns_MouseUp(Qt::MouseButton button, const QPoint& globalPosition)
{
    if (button == Qt::RightButton)
        showTreeMenu(globalPosition);
}

void FrmOpen::showTreeMenu(const QPoint& globalPosition)
{
    // The key and the event it may turn into open the menu once.
    if (ui_->popMenu->isVisible())
        return;
    const verify::TreeNode* node = selectedNode();
    ui_->showcertificate->setEnabled(node != nullptr &&
                                     node->imageKey == verify::keys::kCertificate);
    ui_->extractversion->setEnabled(selectedSignedVersion() != nullptr);
    ui_->showlegenda->setEnabled(true);
    ui_->savereport->setEnabled(verificationDone());
    ui_->popMenu->popup(globalPosition);
}

bool FrmOpen::verificationDone() const
{
    // A load that finished, verified or not, left its time or its error.
    return !loading_ && (document_.checkedAt.isValid() || document_.error.has_value());
}

void FrmOpen::lblErrorDes_ContextMenu(const QPoint& position)
{
    QMenu* menu = ui_->lblErrorDes->createStandardContextMenu();
    menu->setParent(this, menu->windowFlags());
    menu->setObjectName(QStringLiteral("errorMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addSeparator();
    ui_->savereport->setEnabled(verificationDone());
    menu->addAction(ui_->savereport);
    menu->popup(ui_->lblErrorDes->mapToGlobal(position));
}

void FrmOpen::savereport_Click()
{
    desktop::FileDialogRequest request;
    request.title = QStringLiteral("Salvar Relatório de Verificação");
    request.fileName = report::reportFileName(aFilePath_);
    const QMimeType pdf = QMimeDatabase().mimeTypeForName(QStringLiteral("application/pdf"));
    request.filter = desktop::fileDialogFilter(pdf.comment(), request.fileName);
    request.initialFolder = environmentText("MYDOC");
    const std::optional<QString> target = desktop_.saveFileName(this, request);
    if (!target)
        return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    // The dialog asked before replacing a file: the entry at the path is
    // replaced, whole, never what a link there points to.
    const std::optional<fileinfo::FileError> failure =
        report::writeReport(document_, *target, fileinfo::Replace::Entry);
    QGuiApplication::restoreOverrideCursor();
    if (failure)
        desktop_.message(this, desktop::MessageIcon::Critical, kTitle,
                         QStringLiteral("Não foi possível gravar o relatório em \"%1\".\r\n%2")
                             .arg(*target, failure->text()));
}

const verify::PdfSignatureResult* FrmOpen::selectedSignedVersion() const
{
    const verify::TreeNode* node = selectedNode();
    return node != nullptr && !loading_ ? signedVersionOf(*node, document_) : nullptr;
}

void FrmOpen::updateSignedVersionButton()
{
    ui_->BTN004->setEnabled(selectedSignedVersion() != nullptr);
}

void FrmOpen::extractversion_Click()
{
    const verify::PdfSignatureResult* signature = selectedSignedVersion();
    if (signature == nullptr)
        return;
    desktop::FileDialogRequest request;
    request.title = QStringLiteral("Extrair Versão Assinada");
    request.fileName = signedVersionName(document_.originalName, signature->revision);
    const QMimeType pdf = QMimeDatabase().mimeTypeForName(QStringLiteral("application/pdf"));
    request.filter = desktop::fileDialogFilter(pdf.comment(), request.fileName);
    request.initialFolder = environmentText("MYDOC");
    const std::optional<QString> target = desktop_.saveFileName(this, request);
    if (!target)
        return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    // The dialog asked before replacing a file: the entry at the path is
    // replaced, never what a link there points to.
    const std::optional<fileinfo::FileError> failure =
        writeSignedVersion(document_.filePath, document_.contentSha256, signature->signedLength,
                           *target, fileinfo::Replace::Entry);
    QGuiApplication::restoreOverrideCursor();
    if (failure)
        desktop_.message(
            this, desktop::MessageIcon::Critical, kTitle,
            QStringLiteral("Não foi possível gravar a versão assinada em \"%1\".\r\n%2")
                .arg(*target, failure->text()));
}

void FrmOpen::showcertificate_Click()
{
    const verify::TreeNode* node = selectedNode();
    if (node == nullptr)
        return;
    if (std::optional<desktop::CertificateView> view = certificateViewOf(*node, document_))
        desktop_.showCertificate(this, *view, signerDetailsOf(*node, document_));
}

void FrmOpen::showlegenda_Click()
{
    setEnabled(false);
    auto* legend = new zFrmLegenda(this);
    SetWindowTopMost(legend, kTrue);
    legend->show();
    // Over the window it explains, with the focus: the window itself is
    // disabled until the legend closes.
    desktop::centreOver(legend, this);
    legend->raise();
    legend->activateWindow();
}

} // namespace selavia::app
