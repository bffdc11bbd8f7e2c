#pragma once

#include "platform/desktop/SignerDetails.h"
#include "platform/signature/Certificate.h"

#include <QDialog>
#include <optional>
#include <vector>

class QWidget;

namespace selavia::desktop {

// The certificate viewer the signature window opens ("Exibir Certificado"):
// Geral, Detalhes and Caminho de certificação, as people know them from
// other certificate viewers. Linux offers no system dialog for this. For a
// signer's own certificate, the general tab also tells what the signature
// says: its time-stamp, the validity at its time, the policy, the
// counter-signatures and the signature's own problems.
class CertificateDialog : public QDialog {
    Q_OBJECT

public:
    // Shows `view.path.back()`; a view without a path shows nothing.
    explicit CertificateDialog(CertificateView view,
                               const std::optional<SignerDetails>& signer = std::nullopt,
                               QWidget* parent = nullptr);

    // Fits the available screen before it shows (scrolling inside when the
    // screen is small) and lets QDialog centre it on its parent.
    void setVisible(bool visible) override;

private:
    void fitToScreen();
    QWidget* makeGeneralTab();
    // The signature's section of the general tab; null without a signer.
    QWidget* makeSignatureSection() const;
    QWidget* makeDetailsTab();
    QWidget* makePathTab();
    CertificateView view_;
    signature::Certificate certificate_; // read from the shown certificate's DER
    std::optional<SignerDetails> signer_;
};

} // namespace selavia::desktop
