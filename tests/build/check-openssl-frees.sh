#!/usr/bin/env bash
# Every OpenSSL object the program holds is freed by an owner of
# platform/signature/OpenSslHandles.h: a free written by hand elsewhere is
# one an early return or an exception can skip, or run twice.
#   tests/build/check-openssl-frees.sh SOURCE-DIR
set -euo pipefail
source=$(cd "${1:?uso: check-openssl-frees.sh SOURCE-DIR}" && pwd)
cd "$source"
# Calls such as X509_free(...) or OPENSSL_free(...); setters of free
# callbacks (..._set_free) hand a function over and free nothing.
found=$(grep -rnE --include='*.cpp' --include='*.h' '\b[A-Za-z0-9_]+_free[[:space:]]*\(' \
            app cli fileinfo platform report verify \
        | grep -v '^platform/signature/OpenSslHandles\.h:' \
        | grep -vE '_set_free[[:space:]]*\(' || true)
if [ -n "$found" ]; then
    echo "FALHA: liberação à mão fora de OpenSslHandles.h:" >&2
    echo "$found" >&2
    exit 1
fi
