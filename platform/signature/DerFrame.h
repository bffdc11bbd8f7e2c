#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <functional>
#include <optional>
#include <vector>

namespace selavia::signature {

// Reads up to `length` bytes at `offset`; fewer only at the end of the file.
using ReadAt = std::function<QByteArray(qint64 offset, qint64 length)>;

// Where the content lies in the file: the element at `offset`, a primitive
// OCTET STRING or a constructed one whose pieces are walked again as they
// are hashed, so no list of pieces is ever held.
struct ContentElement {
    qint64 offset = 0; // the content element's tag
    qint64 end = 0;    // just after it (its end-of-contents included)
    qint64 length = 0; // the content bytes it holds
};

// A SignedData message cut around its content: `frame` is the message with
// the content replaced by an empty OCTET STRING (enclosing lengths
// adjusted); the content is `content` of the file.
struct FrameSplit {
    QByteArray frame;
    ContentElement content;
};

// Cuts the message of `size` bytes when its content is a primitive OCTET
// STRING, or a constructed one made of pieces, themselves primitive or
// constructed (what streaming signers write, with indefinite lengths).
// Bytes after the end of the message are never read. nullopt for anything
// else (detached content, not a SignedData, damage): such messages are read
// whole. Throws SignatureError(kLimitExceeded) for more pieces, or more
// bytes around the content, than any signer writes.
std::optional<FrameSplit> splitAtContent(const ReadAt& read, qint64 size);

// Walks the content element `content` again and hands each stretch of
// content bytes to `piece`, in order. `readSmall` serves piece headers.
// Throws SignatureError(kNotSignedData) when the pieces are not what they
// were when the message was cut (the file changed under us).
void walkContent(const ReadAt& readSmall, const ContentElement& content,
                 const std::function<void(qint64 offset, qint64 length)>& piece);

// Where a message whose outer SEQUENCE has a definite length ends, from its
// first bytes; nullopt for an indefinite length or anything else.
std::optional<qint64> definiteMessageEnd(QByteArrayView head);

// The number of entries of the SignedData's digestAlgorithms set in the
// encoded message `der`; nullopt when it cannot be walked to.
std::optional<int> countDigestAlgorithms(QByteArrayView der);

// A SignedData message with its certificates taken out: `message` is the
// message without the certificates set (enclosing lengths adjusted),
// `certificates` the encoding of each entry, in order.
struct CertificatesSplit {
    QByteArray message;
    std::vector<QByteArrayView> certificates; // views into the message given
};

// Takes the certificates out of the encoded message `der`, so that they
// can be read apart from it. nullopt unless every element down to the set
// has a definite length, the message fills `der` exactly, and the set holds
// only plain certificates (each a SEQUENCE).
std::optional<CertificatesSplit> splitCertificates(QByteArrayView der);

} // namespace selavia::signature
