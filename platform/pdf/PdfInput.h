#pragma once

// What qpdf reads a PDF through: our own inputs, cut at a revision's end so
// that each revision is read as the file was when it was written, and a
// stream decoder that stops at a size of our choosing.

#include "platform/signature/SignedData.h"

#include <QByteArray>
#include <memory>
#include <qpdf/InputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <string>

namespace selavia::pdf {

// The first `length` bytes of `input`, as qpdf reads files. The input stays
// the caller's and must outlive this source.
class PrefixInputSource : public InputSource {
public:
    PrefixInputSource(signature::MessageInput& input, qint64 length, std::string name);

    qpdf_offset_t findAndSkipNextEOL() override;
    std::string const& getName() const override { return name_; }
    qpdf_offset_t tell() override { return position_; }
    void seek(qpdf_offset_t offset, int whence) override;
    void rewind() override { position_ = 0; }
    size_t read(char* buffer, size_t length) override;
    void unreadCh(char) override;

private:
    // A small window of the input kept in memory: qpdf reads byte by byte.
    bool fill(qint64 offset);

    signature::MessageInput& input_;
    qint64 length_;
    std::string name_;
    qint64 position_ = 0;
    QByteArray window_;
    qint64 windowStart_ = -1;
};

// A revision of the file opened with qpdf: no recovery of damaged
// cross-references (a damaged file is refused, not guessed at) and no
// warnings on the terminal. Throws PdfError.
std::unique_ptr<QPDF> openRevision(signature::MessageInput& input, qint64 end);

// The cross-reference stream at `offset`, if it is one compressed with
// Flate, inflated once through our cap (qpdf would inflate it whole, without
// limit, as it opens the file). Throws PdfError past the cap; damage is left
// for qpdf to report.
void checkCrossReferenceStream(signature::MessageInput& input, qint64 offset);

// A stream's data, decoded, when it holds at most `cap` bytes decoded;
// throws PdfError past the cap or when it cannot be decoded.
std::string decodedStream(QPDFObjectHandle stream, qint64 cap);

} // namespace selavia::pdf
