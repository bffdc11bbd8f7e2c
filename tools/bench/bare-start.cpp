// The floor tools/bench/startup measures selavia-verify against: a program
// that loads the same shared libraries (QtCore, libcrypto, qpdf and what
// qpdf brings: GnuTLS, libjpeg, zlib), starts QtCore and does nothing else.

#include <QCoreApplication>
#include <openssl/crypto.h>
#include <qpdf/QPDF.hh>

int main(int argc, char* argv[])
{
    const QCoreApplication application(argc, argv);
    // A call into libcrypto and one into qpdf, so that the linker keeps
    // both as selavia-verify does.
    return OpenSSL_version_num() != 0 && !QPDF::QPDFVersion().empty() ? 0 : 1;
}
