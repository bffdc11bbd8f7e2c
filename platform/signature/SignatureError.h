#pragma once

#include <QString>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace selavia::signature {

// 32-bit codes of the signature services. The first three are the ones the
// program classifies; the others are ours, each with its own description.
namespace code {
inline constexpr std::uint32_t kHashMismatch = 0x80091007;  // content differs from its digest
inline constexpr std::uint32_t kNotSignedData = 0x8009310B; // not a CMS SignedData at all
inline constexpr std::uint32_t kBadSignature = 0x80880251;  // signature value does not verify
inline constexpr std::uint32_t kInternal = 0x80880300;      // OpenSSL failed unexpectedly
inline constexpr std::uint32_t kDetachedContent = 0x80880301;
inline constexpr std::uint32_t kSignerCertificateMissing = 0x80880302;
inline constexpr std::uint32_t kUnsupportedAlgorithm = 0x80880303;
inline constexpr std::uint32_t kNotVerified = 0x80880304; // asked for content before Verify
inline constexpr std::uint32_t kBadBase64 = 0x80880305;
inline constexpr std::uint32_t kLimitExceeded = 0x80880306;
inline constexpr std::uint32_t kCertificateUnreadable = 0x80880307;
inline constexpr std::uint32_t kNoSigners = 0x80880308;
inline constexpr std::uint32_t kCancelled = 0x80880309;
inline constexpr std::uint32_t kContentUnreadable = 0x8088030A; // a detached signature's document
inline constexpr std::uint32_t kContentNotDetached = 0x8088030B;
} // namespace code

// A failure of the signature services: a 32-bit code, a Portuguese
// description for the user and, apart, what OpenSSL said (in English, for
// reports to machines and people who debug, never for a Portuguese panel).
// Callers compare codes, never descriptions.
class SignatureError : public std::runtime_error {
public:
    SignatureError(std::uint32_t code, QString description, QString details = {});

    std::uint32_t code() const noexcept { return code_; }
    const QString& description() const noexcept { return description_; }
    const QString& details() const noexcept { return details_; }
    // The code as the decimal text of the signed 32-bit number, e.g. "-2146889721".
    QString codeText() const;

    // The fixed Portuguese description of one of our codes.
    static QString describe(std::uint32_t code);
    // An error with the fixed description of `code`.
    static SignatureError of(std::uint32_t code);
    // An error with the fixed description of `code`, and what OpenSSL left in
    // its error queue as details; the queue is drained.
    static SignatureError fromOpenSsl(std::uint32_t code);
    // The same with OpenSSL errors already drained from the queue.
    static SignatureError withDetails(std::uint32_t code, const std::vector<unsigned long>& errors);

private:
    std::uint32_t code_;
    QString description_;
    QString details_;
};

// Empties OpenSSL's error queue of this thread, oldest error first.
std::vector<unsigned long> drainOpenSslErrors();

// The decimal text of a code taken as a signed 32-bit number.
QString signedDecimalText(std::uint32_t code);

} // namespace selavia::signature
