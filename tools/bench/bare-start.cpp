// The floor tools/bench/startup measures selavia-verify against: a program
// that loads the same shared libraries, starts QtCore and does nothing else.

#include <QCoreApplication>
#include <openssl/crypto.h>

int main(int argc, char* argv[])
{
    const QCoreApplication application(argc, argv);
    // A call into libcrypto, so that the linker keeps it as selavia-verify does.
    return OpenSSL_version_num() != 0 ? 0 : 1;
}
