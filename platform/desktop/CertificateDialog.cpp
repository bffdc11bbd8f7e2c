#include "platform/desktop/CertificateDialog.h"

#include "fileinfo/FileHandler.h"
#include "platform/desktop/Widgets.h"
#include "platform/signature/CertificateDetails.h"
#include "platform/signature/SignatureError.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace selavia::desktop {
namespace {

namespace sig = selavia::signature;

constexpr int kCertificateIndexRole = Qt::UserRole;
constexpr int kFullValueRole = Qt::UserRole;
constexpr QSize kPreferredSize(540, 600);

// A value the certificate cannot give is shown empty rather than failing the
// whole dialog: the other tabs may still tell the user what is wrong.
template <typename Read> QString readOrEmpty(Read&& read)
{
    try {
        return read();
    } catch (const sig::SignatureError&) {
        return {};
    }
}

sig::Certificate readOrEmptyCertificate(const QByteArray& der)
{
    try {
        return sig::Certificate::fromDer(der);
    } catch (const sig::SignatureError&) {
        return {};
    }
}

QString simpleName(const sig::Certificate& certificate)
{
    QString name =
        readOrEmpty([&] { return certificate.getInfo(sig::CertificateInfo::SubjectSimpleName); });
    return name.isEmpty() ? readOrEmpty([&] { return certificate.subjectName(); }) : name;
}

QString validityText(bool valid, const QStringList& problems)
{
    if (valid)
        return QStringLiteral("Este certificado é válido.");
    QString text = QStringLiteral("Este certificado não é válido:");
    for (const QString& problem : problems)
        text += QStringLiteral("\n• ") + problem;
    return text;
}

const QString kRevocationCaption = QStringLiteral("Situação de revogação:");

// The validity with the certificate's revocation status under it, as the
// certification path shows each certificate.
QString pathStatusText(const PathCertificate& entry)
{
    return validityText(entry.valid, entry.problems) + QStringLiteral("\n\n") + kRevocationCaption +
           QLatin1Char(' ') + entry.revocation;
}

sig::Certificate shownCertificate(const CertificateView& view)
{
    if (view.path.empty())
        return {};
    return readOrEmptyCertificate(view.path.back().der);
}

QIcon statusIcon(const QWidget* widget, bool valid)
{
    return widget->style()->standardIcon(valid ? QStyle::SP_MessageBoxInformation
                                               : QStyle::SP_MessageBoxWarning);
}

QLabel* boldLabel(const QString& text)
{
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// Long names and DNs must wrap and be copyable.
QLabel* valueLabel(const QString& text, const QString& objectName)
{
    auto* label = new QLabel(text);
    label->setObjectName(objectName);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QString dateText(const sig::Certificate& certificate, QDateTime (sig::Certificate::*read)() const)
{
    return readOrEmpty([&] { return fileinfo::ZonedDateText((certificate.*read)()); });
}

} // namespace

CertificateDialog::CertificateDialog(CertificateView view,
                                     const std::optional<SignerDetails>& signer, QWidget* parent)
    : QDialog(parent), view_(std::move(view)), certificate_(shownCertificate(view_)),
      signer_(signer)
{
    setObjectName(QStringLiteral("CertificateDialog"));
    setWindowTitle(QStringLiteral("Certificado"));

    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("certificateTabs"));
    tabs->setAccessibleName(QStringLiteral("Certificado"));
    tabs->addTab(makeGeneralTab(), QStringLiteral("Geral"));
    tabs->addTab(makeDetailsTab(), QStringLiteral("Detalhes"));
    tabs->addTab(makePathTab(), QStringLiteral("Caminho de certificação"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs, 1);
    layout->addWidget(buttons);
    // Small enough for any screen: the general tab scrolls, the lists of
    // the other two scroll by themselves, and OK stays in sight below.
    setMinimumSize(320, 280);
    resize(kPreferredSize);
}

void CertificateDialog::setVisible(bool visible)
{
    // Sized before QDialog places it: it centres the dialog on its parent
    // and keeps it on the screen, which it can only do for a dialog that fits.
    if (visible && !isVisible())
        fitToScreen();
    QDialog::setVisible(visible);
}

void CertificateDialog::fitToScreen()
{
    const QWidget* over = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
    QScreen* screen = over != nullptr ? over->screen() : this->screen();
    if (screen == nullptr)
        return;
    // The window manager's frame is known only once a window is shown: the
    // parent's tells how much the dialog's will take.
    QSize frame(0, 0);
    if (over != nullptr && over->isVisible())
        frame = over->frameGeometry().size() - over->size();
    const QSize room = screen->availableGeometry().size() - frame;
    resize(kPreferredSize.boundedTo(room).expandedTo(minimumSize()));
}

QWidget* CertificateDialog::makeGeneralTab()
{
    auto* page = new QWidget;
    auto* panel = new QFrame;
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setBackgroundRole(QPalette::Base);
    panel->setAutoFillBackground(true);

    auto* icon = new QLabel;
    const bool signatureSound = !signer_ || signer_->problems.isEmpty();
    icon->setPixmap(statusIcon(this, view_.valid && signatureSound).pixmap(32, 32));
    auto* title = boldLabel(QStringLiteral("Informações do certificado"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    title->setFont(titleFont);
    auto* header = new QHBoxLayout;
    header->addWidget(icon);
    header->addWidget(title, 1);

    QStringList purposes = sig::certificatePurposes(certificate_);
    for (QString& purpose : purposes)
        purpose.prepend(QStringLiteral("• "));
    auto* purposeList = valueLabel(purposes.join(QLatin1Char('\n')), QStringLiteral("purposes"));
    purposeList->setIndent(12);

    auto* names = new QGridLayout;
    names->setColumnStretch(1, 1);
    names->addWidget(boldLabel(QStringLiteral("Emitido para:")), 0, 0, Qt::AlignTop);
    names->addWidget(valueLabel(simpleName(certificate_), QStringLiteral("issuedTo")), 0, 1);
    names->addWidget(boldLabel(QStringLiteral("Emitido por:")), 1, 0, Qt::AlignTop);
    names->addWidget(valueLabel(readOrEmpty([&] { return sig::issuerSimpleName(certificate_); }),
                                QStringLiteral("issuedBy")),
                     1, 1);
    names->addWidget(boldLabel(kRevocationCaption), 2, 0, Qt::AlignTop);
    names->addWidget(valueLabel(view_.path.empty() ? QString() : view_.path.back().revocation,
                                QStringLiteral("revocationStatus")),
                     2, 1);

    auto* period = valueLabel(
        QStringLiteral("<b>Válido de</b> %1 <b>até</b> %2")
            .arg(dateText(certificate_, &sig::Certificate::validFromDate).toHtmlEscaped(),
                 dateText(certificate_, &sig::Certificate::validToDate).toHtmlEscaped()),
        QStringLiteral("validityPeriod"));
    period->setTextFormat(Qt::RichText);

    auto* layout = new QVBoxLayout(panel);
    layout->addLayout(header);
    layout->addWidget(etchedLine());
    layout->addWidget(boldLabel(QStringLiteral("Este certificado destina-se a:")));
    layout->addWidget(purposeList);
    layout->addWidget(etchedLine());
    layout->addLayout(names);
    layout->addSpacing(8);
    layout->addWidget(period);
    if (QWidget* section = makeSignatureSection()) {
        layout->addWidget(etchedLine());
        layout->addWidget(section);
    }
    layout->addStretch(1);

    auto* status =
        valueLabel(validityText(view_.valid, view_.problems), QStringLiteral("generalStatus"));
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->addWidget(panel, 1);
    pageLayout->addWidget(status);
    if (!view_.caveat.isEmpty())
        pageLayout->addWidget(valueLabel(view_.caveat, QStringLiteral("validityCaveat")));

    // A signer's lines and a long list of problems make the page taller
    // than a small screen: it scrolls rather than pushing OK off the screen.
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("generalScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    // Tab goes to what it holds, not to the frame.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(page);
    return scroll;
}

QWidget* CertificateDialog::makeSignatureSection() const
{
    if (!signer_ || (signer_->timeStamp.isEmpty() && signer_->validAtTimestamp.isEmpty() &&
                     signer_->policy.isEmpty() && signer_->counterSignatures.isEmpty() &&
                     signer_->problems.isEmpty()))
        return nullptr;
    auto* section = new QWidget;
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(boldLabel(QStringLiteral("Assinatura:")));
    auto addLines = [&](const QStringList& lines, const QString& objectName) {
        QStringList shown = lines;
        shown.removeAll(QString());
        if (!shown.isEmpty())
            layout->addWidget(valueLabel(shown.join(QLatin1Char('\n')), objectName));
    };
    addLines({signer_->timeStamp}, QStringLiteral("timeStamp"));
    addLines({signer_->validAtTimestamp}, QStringLiteral("validAtTimestamp"));
    addLines({signer_->policy}, QStringLiteral("signaturePolicy"));
    addLines(signer_->counterSignatures, QStringLiteral("counterSignatures"));
    QStringList problems;
    for (const QString& problem : signer_->problems)
        problems << QStringLiteral("• ") + problem;
    addLines(problems, QStringLiteral("signatureProblems"));
    return section;
}

QWidget* CertificateDialog::makeDetailsTab()
{
    auto* list = new QTreeWidget;
    list->setObjectName(QStringLiteral("detailsList"));
    list->setAccessibleName(QStringLiteral("Campos do certificado"));
    list->setColumnCount(2);
    list->setHeaderLabels({QStringLiteral("Campo"), QStringLiteral("Valor")});
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);

    std::vector<sig::CertificateField> fields;
    try {
        fields = sig::detailFields(certificate_, &fileinfo::ZonedDateText);
    } catch (const sig::SignatureError& error) {
        fields = {{QStringLiteral("Erro"), error.description()}};
    }
    for (const sig::CertificateField& field : fields) {
        // The list holds one line; the box below shows every line.
        auto* item = new QTreeWidgetItem(
            list,
            {field.name, QString(field.value).replace(QLatin1Char('\n'), QStringLiteral(", "))});
        item->setData(1, kFullValueRole, field.value);
        item->setToolTip(1, field.value);
    }
    list->resizeColumnToContents(0);

    auto* value = new QPlainTextEdit;
    value->setObjectName(QStringLiteral("detailValue"));
    value->setAccessibleName(QStringLiteral("Valor do campo"));
    value->setReadOnly(true);
    value->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    connect(list, &QTreeWidget::currentItemChanged, value, [value](QTreeWidgetItem* current) {
        value->setPlainText(current != nullptr ? current->data(1, kFullValueRole).toString()
                                               : QString());
    });
    list->setCurrentItem(list->topLevelItem(0));

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(list);
    splitter->addWidget(value);
    splitter->setChildrenCollapsible(false);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);

    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(splitter);
    return page;
}

QWidget* CertificateDialog::makePathTab()
{
    auto* tree = new QTreeWidget;
    tree->setObjectName(QStringLiteral("pathTree"));
    tree->setAccessibleName(QStringLiteral("Caminho de certificação"));
    tree->setHeaderHidden(true);
    tree->setColumnCount(1);
    QTreeWidgetItem* parentItem = nullptr;
    // Each certificate is marked by its own problems: an untrusted top, an
    // expired or revoked certificate, a signature that does not verify.
    for (std::size_t i = 0; i < view_.path.size(); ++i) {
        auto* item =
            parentItem != nullptr ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(tree);
        item->setText(0, view_.path[i].name);
        item->setData(0, kCertificateIndexRole, static_cast<int>(i));
        if (!view_.path[i].valid)
            item->setIcon(0, statusIcon(this, false));
        parentItem = item;
    }
    tree->expandAll();

    auto* status = valueLabel(QString(), QStringLiteral("pathStatus"));
    status->setFrameShape(QFrame::StyledPanel);
    status->setBackgroundRole(QPalette::Base);
    status->setAutoFillBackground(true);
    status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    status->setMargin(6);
    status->setMinimumHeight(status->fontMetrics().lineSpacing() * 4);
    // The status follows the selected certificate, the dialog's own at first.
    connect(tree, &QTreeWidget::currentItemChanged, status,
            [this, status](QTreeWidgetItem* current) {
                if (current == nullptr) {
                    status->clear();
                    return;
                }
                const auto index =
                    static_cast<std::size_t>(current->data(0, kCertificateIndexRole).toInt());
                status->setText(pathStatusText(view_.path.at(index)));
            });
    tree->setCurrentItem(parentItem);

    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(boldLabel(QStringLiteral("Caminho de certificação")));
    layout->addWidget(tree, 1);
    layout->addWidget(boldLabel(QStringLiteral("Status do certificado:")));
    layout->addWidget(status);
    return page;
}

} // namespace selavia::desktop
