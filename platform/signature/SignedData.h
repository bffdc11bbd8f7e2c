#pragma once

#include "Chain.h"
#include "DerFrame.h"
#include "TrustStore.h"
#include "ValidationServices.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

namespace selavia::signature {

// The services' names of the signed attributes the program reads.
enum class AttributeName {
    SigningTime = 0,         // 1.2.840.113549.1.9.5
    DocumentName = 1,        // 1.3.6.1.4.1.311.88.2.1
    DocumentDescription = 2, // 1.3.6.1.4.1.311.88.2.2
    Other = -1,
};

struct Attribute {
    AttributeName name = AttributeName::Other;
    QString oid;
    // QDateTime (UTC) for the signing time, QString for the two texts; an
    // invalid QVariant when the value could not be decoded.
    QVariant value;
};

class Signer {
public:
    Signer(Certificate certificate, std::vector<Attribute> attributes, Chain chain)
        : certificate_(std::move(certificate)), attributes_(std::move(attributes)),
          chain_(std::move(chain))
    {
    }

    const Certificate& certificate() const { return certificate_; }
    // Signed attributes, in message order.
    const std::vector<Attribute>& authenticatedAttributes() const { return attributes_; }
    // The chain as Verify attached it.
    const Chain& chain() const { return chain_; }

private:
    Certificate certificate_;
    std::vector<Attribute> attributes_;
    Chain chain_;
};

namespace detail {
struct SignedDataState;
}

// Called as the content is hashed; returning false stops the verification
// (it then fails with code::kCancelled).
using Progress = std::function<bool(qint64 done, qint64 total)>;

// Where the verified content is: in memory, or stretches of the signed file
// (then `fd` stays open as long as the SignedData).
struct ContentSource {
    QByteArrayView memory;
    int fd = -1;
    std::vector<ByteRange> ranges;
    qint64 length = 0;

    bool inFile() const { return fd >= 0; }
};

using ContentLocated = std::function<void(int fd, const std::vector<ByteRange>& ranges)>;

// How the message was written in the file.
enum class InputForm { Der, Pem, Base64 };

// One CMS/PKCS#7 SignedData message (`SignedData`).
class SignedData {
public:
    // `services` are what judging the certificates may ask outside the
    // message (revocation sources after its own CRLs, issuer fetching).
    explicit SignedData(TrustStore trustStore = TrustStore::systemDefault(),
                        ValidationServices services = {});
    ~SignedData();
    SignedData(SignedData&&) noexcept;
    SignedData& operator=(SignedData&&) noexcept;

    // Verifies every signer's signature against the attached content and the
    // signer's certificate from the message; certificates are not judged.
    // Accepts DER, BER (indefinite lengths), PEM and Base64. `detached` must
    // be false and `flag` 0. Throws SignatureError; on failure the object
    // holds no message.
    void verify(QByteArrayView message, bool detached = false, int flag = 0);
    // The same for the open regular file `fd` of `size` bytes. A message
    // whose content is one definite-length OCTET STRING is verified without
    // holding the content: it is hashed straight from the file. Others are
    // read whole. `progress` follows the hashing.
    // `located`, when given, learns where the content is before it is
    // hashed (the descriptor is valid during the call only), so a copy can
    // run meanwhile; it is not called for messages read whole.
    void verifyFile(int fd, qint64 size, const Progress& progress = {},
                    const ContentLocated& located = {});

    bool isVerified() const;
    // The attached content, byte for byte. Throws before a successful verify.
    QByteArray content() const;
    ContentSource contentSource() const;
    qint64 contentSize() const;
    // SHA-256 of the content (free when a signer used SHA-256).
    QByteArray contentSha256() const;
    // The signers in message order. Throws before a successful verify.
    const std::vector<Signer>& signers() const;
    InputForm inputForm() const;

    // The validation phase, after a successful verify: completes every
    // signer's chain and asks the revocation sources about each certificate
    // of it, concurrently, so that judging them later (on any thread) asks
    // nothing outside the process. Signers' chains are rebuilt with what it
    // found. Returns false when `progress` cancelled it. Throws before a
    // successful verify.
    bool prepareValidation(const PhaseProgress& progress = {});

private:
    void verifyInMemory(QByteArrayView message, const Progress& progress);
    const detail::SignedDataState& verifiedState() const;

    TrustStore trustStore_;
    ValidationServices services_;
    std::unique_ptr<detail::SignedDataState> state_;
};

// `Utilities`.
namespace utilities {
// Decodes Base64 text (line breaks and blanks allowed). Throws SignatureError.
QByteArray base64Decode(const QString& text);
} // namespace utilities

} // namespace selavia::signature
