#include "app/zFrmLegenda.h"

#include "platform/desktop/Desktop.h"
#include "platform/desktop/Widgets.h"
#include "resources/Images.h"
#include "verify/CertificateClass.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace selavia::app {
namespace {

struct Row {
    verify::CertificateClass certificateClass;
    const char* explanation;
};

// Row order is the order of the certificate classes.
const Row kRows[] = {
    {verify::CertificateClass::Valid,
     "Aprovado de acordo com a lista de certificados revogados e encontra-se dentro do prazo de "
     "validade"},
    {verify::CertificateClass::Invalid, "Revogado ou Expirado"},
    {verify::CertificateClass::NoIcpValid,
     "Certificado não ICP-Brasil - Desconhecido, porem apresenta cadeia de certificados válida no "
     "windows."},
    {verify::CertificateClass::NoIcpInvalid,
     "Certificado não ICP-Brasil - Desconhecido e Inválido."},
};

// gov.br signers show the non-ICP pictures under a caption of their own.
const char* const kGovBrNote =
    "Assinatura eletrônica avançada (gov.br): assinatura de cidadão pelo serviço do Governo "
    "Federal; aceita por órgãos públicos, não é assinatura qualificada ICP-Brasil.";

} // namespace

zFrmLegenda::zFrmLegenda(QWidget* documentWindow)
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      documentWindow_(documentWindow)
{
    setObjectName(QStringLiteral("zFrmLegenda"));
    setWindowTitle(QStringLiteral("Legenda"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    setPalette(white);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    auto* content = new QWidget;
    auto* layout = new QGridLayout(content);
    layout->setColumnStretch(1, 1);
    int row = 0;
    int number = 1;
    for (const Row& entry : kRows) {
        auto* image = new QLabel;
        image->setObjectName(QStringLiteral("Image%1").arg(number));
        image->setPixmap(
            resources::treeImage(verify::imageKey(entry.certificateClass)).pixmap(16, 16));
        image->setFixedSize(16, 16);
        image->setAccessibleName(verify::caption(entry.certificateClass));
        layout->addWidget(image, row, 0, Qt::AlignTop);
        auto* heading = new QLabel(verify::caption(entry.certificateClass));
        heading->setObjectName(QStringLiteral("Label%1").arg(number));
        QFont bold = heading->font();
        bold.setBold(true);
        heading->setFont(bold);
        layout->addWidget(heading, row++, 1);
        auto* explanation = new QLabel(QString::fromUtf8(entry.explanation));
        explanation->setObjectName(QStringLiteral("Label%1").arg(number + 4));
        explanation->setWordWrap(true);
        explanation->setFixedWidth(240);
        layout->addWidget(explanation, row++, 1, Qt::AlignTop);
        layout->setRowMinimumHeight(row++, 6);
        ++number;
    }
    auto* govBr = new QLabel(QString::fromUtf8(kGovBrNote));
    govBr->setObjectName(QStringLiteral("LabelGovBr"));
    govBr->setWordWrap(true);
    govBr->setFixedWidth(240);
    layout->addWidget(govBr, row++, 1, Qt::AlignTop);
    layout->setRowMinimumHeight(row++, 6);
    auto* ok = new QPushButton(QStringLiteral("&Ok"));
    ok->setObjectName(QStringLiteral("Command2"));
    desktop::giveFlatButtonFeedback(ok);
    connect(ok, &QPushButton::clicked, this, &QWidget::close);
    layout->addWidget(ok, row, 0, 1, 2, Qt::AlignLeft);
    desktop::scrollInside(this, content);
    desktop::pressButtonsWithEnter(this);
    // Its own size, never larger; smaller, scrolling, on a small screen.
    const QSize natural = content->sizeHint().expandedTo(QSize(289, 0));
    setMaximumSize(natural);
    resize(natural);
    ok->setFocus();
}

void zFrmLegenda::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    desktop::fitToScreen(this);
}

void zFrmLegenda::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void zFrmLegenda::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void zFrmLegenda::Form_Unload()
{
    if (documentWindow_)
        documentWindow_->setEnabled(true);
}

} // namespace selavia::app
