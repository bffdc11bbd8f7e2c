#pragma once

#include "platform/signature/Certificate.h"

#include <QDialog>
#include <vector>

class QWidget;

namespace selavia::app {

// The certificate viewer the signature window opens ("Exibir Certificado"):
// Geral, Detalhes and Caminho de certificação, as people know them from
// other certificate viewers. Linux offers no system dialog for this.
class CertificateDialog : public QDialog {
    Q_OBJECT

public:
    explicit CertificateDialog(const signature::Certificate& certificate,
                               QWidget* parent = nullptr);

private:
    QWidget* makeGeneralTab();
    QWidget* makeDetailsTab();
    QWidget* makePathTab();

    signature::Certificate certificate_;
    signature::CertificateStatus status_;      // of certificate_, worked out once
    std::vector<signature::Certificate> path_; // root first, certificate_ last
};

// Shows the dialog for `certificate` modally over the active window.
void showCertificateDialog(const signature::Certificate& certificate);

// Makes signature::display() open this dialog.
void installCertificateDialog();

} // namespace selavia::app
