#pragma once

// Why a PDF could not be read, in Portuguese for the user.

#include <QString>
#include <stdexcept>

namespace selavia::pdf {

class PdfError : public std::runtime_error {
public:
    explicit PdfError(const QString& text) : std::runtime_error(text.toStdString()), text_(text) {}
    const QString& text() const { return text_; }

private:
    QString text_;
};

} // namespace selavia::pdf
