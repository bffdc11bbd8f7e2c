#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace selavia::signature {

// How the message was written in the file.
enum class InputForm { Der, Pem, Base64 };

// The message's binary encoding, found by looking at the input first and
// parsing once: binary DER/BER as it stands, PEM and Base64 decoded.
struct SniffedInput {
    InputForm form = InputForm::Der;
    QByteArrayView binary; // points into the input or into `decoded`
    QByteArray decoded;
};

// Throws SignatureError(kNotSignedData) when the input is none of the forms.
// The result may point into `input`, which must outlive it.
SniffedInput sniffInput(QByteArrayView input);

} // namespace selavia::signature
