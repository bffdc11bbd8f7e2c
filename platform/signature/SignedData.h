#pragma once

#include "Cades.h"
#include "Chain.h"
#include "InputForm.h"
#include "SignerEncoding.h"
#include "TimeStampToken.h"
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
    Signer(Certificate certificate, std::vector<Attribute> attributes, Chain chain,
           CadesInfo cades = {}, SignerEncoding encoding = {})
        : certificate_(std::move(certificate)), attributes_(std::move(attributes)),
          chain_(std::move(chain)), cades_(std::move(cades)), encoding_(std::move(encoding))
    {
    }

    const Certificate& certificate() const { return certificate_; }
    // Signed attributes, in message order.
    const std::vector<Attribute>& authenticatedAttributes() const { return attributes_; }
    // The chain as Verify attached it.
    const Chain& chain() const { return chain_; }
    // Time-stamps, signing-certificate binding, policy, counter-signatures.
    const CadesInfo& cades() const { return cades_; }
    // Its algorithms and how its signed attributes are written.
    const SignerEncoding& encoding() const { return encoding_; }

private:
    Certificate certificate_;
    std::vector<Attribute> attributes_;
    Chain chain_;
    CadesInfo cades_;
    SignerEncoding encoding_;
};

namespace detail {
struct SignedDataState;
}

// Called as the content is hashed; returning false stops the verification
// (it then fails with code::kCancelled).
using Progress = std::function<bool(qint64 done, qint64 total)>;

// Receives the content exactly as it is hashed: every byte once, in order,
// from the one read the digests see. What the program shows, writes or sums
// of the original document comes through here and nowhere else.
using ContentSink = std::function<void(QByteArrayView block)>;

class MessageInput;

struct VerifyOptions {
    Progress progress;
    ContentSink sink;
    // Where the content of a detached signature is: read once, block by
    // block, hashed and handed to the sink like attached content. Null: the
    // message must hold its content. Not owned.
    MessageInput* detachedContent = nullptr;
};

// Where a signed message is read from, by offset: a file, or whatever a test
// puts in its place.
class MessageInput {
public:
    virtual ~MessageInput() = default;
    virtual qint64 size() const = 0;
    // Up to `length` bytes at `offset` into `buffer`; fewer only at the end
    // of the input, -1 when it cannot be read.
    virtual qint64 read(qint64 offset, char* buffer, qint64 length) = 0;
};

// An open regular file; the descriptor stays the caller's.
class FileInput : public MessageInput {
public:
    FileInput(int fd, qint64 size) : fd_(fd), size_(size) {}
    qint64 size() const override { return size_; }
    qint64 read(qint64 offset, char* buffer, qint64 length) override;

private:
    int fd_;
    qint64 size_;
};

// Bytes in memory, read as a file is; the bytes stay the caller's.
class ViewInput : public MessageInput {
public:
    explicit ViewInput(QByteArrayView bytes) : bytes_(bytes) {}
    qint64 size() const override { return bytes_.size(); }
    qint64 read(qint64 offset, char* buffer, qint64 length) override;

private:
    QByteArrayView bytes_;
};

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
    void verify(QByteArrayView message, const VerifyOptions& options);
    // The same for a message read by offset. A message whose content is an
    // OCTET STRING, whole or in pieces, is verified without holding the
    // content: it is hashed as it is read, block by block, and handed to the
    // sink from that same read. Others are read whole, within a limit. With
    // `options.detachedContent`, the message must be a detached signature
    // (code::kContentNotDetached otherwise) and its content is read from there.
    void verify(MessageInput& input, const VerifyOptions& options = {});

    bool isVerified() const;
    qint64 contentSize() const;
    // SHA-256 of the content, summed in the verifying pass.
    QByteArray contentSha256() const;
    // The signers in message order. Throws before a successful verify.
    const std::vector<Signer>& signers() const;
    InputForm inputForm() const;
    // The verified message read as an RFC 3161 time-stamp token over what
    // `imprinted` hashes (a PDF's document time-stamp), its signer being the
    // time-stamp authority. Throws before a successful verify.
    TimeStampToken asTimeStampToken(const Imprinted& imprinted) const;

    // The validation phase, after a successful verify: completes every
    // signer's chain and asks the revocation sources about each certificate
    // of it, and of the chains of its time-stamp authorities and
    // counter-signers, concurrently, so that judging them later (on any
    // thread) asks nothing outside the process. Signers' chains are built,
    // and their time-stamp authorities' chains judged, again with what it
    // found. Returns false when `progress` cancelled it. Throws before a
    // successful verify.
    bool prepareValidation(const PhaseProgress& progress = {});

private:
    void verifyInMemory(QByteArrayView message, const VerifyOptions& options);
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
