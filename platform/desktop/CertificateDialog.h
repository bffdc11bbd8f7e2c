#pragma once

#include "platform/signature/Certificate.h"

#include <QDialog>
#include <vector>

class QWidget;

namespace selavia::desktop {

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
    // Whether the path tab marks path_[index] as a certificate with trouble.
    bool marksTrouble(std::size_t index, bool trusted) const;

    signature::Certificate certificate_;
    signature::CertificateStatus status_;                  // of certificate_, worked out once
    std::vector<signature::Certificate> path_;             // root first, certificate_ last
    std::vector<signature::CertificateStatus> pathStatus_; // of each of path_
};

} // namespace selavia::desktop
