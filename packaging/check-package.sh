#!/usr/bin/env bash
# Builds the .deb from a finished build and checks it the way a desktop sees it:
# where the files land, the control fields, the menu entry, the file type, and
# the argument a real launcher hands the program.
#   packaging/check-package.sh BUILD-DIR        (CPACK names the cpack to use)
set -euo pipefail

build=$(cd "${1:?uso: check-package.sh BUILD-DIR}" && pwd)
cpack=${CPACK:-cpack}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failures=0
fail() {
    echo "FALHA: $*" >&2
    failures=$((failures + 1))
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$scratch/out/selavia-reader_${version}_$(dpkg --print-architecture).deb"
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    echo "FALHA: cpack" >&2
    exit 1
fi
[ -f "$deb" ] || { echo "FALHA: $(basename "$deb") não foi gerado:" "$scratch"/out/*.deb >&2; exit 1; }

# Control fields. Depends must name the libraries the binaries link (from
# dpkg-shlibdeps) and what they load or use without linking.
[ "$(dpkg-deb -f "$deb" Package)" = selavia-reader ] || fail "Package: $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version: $(dpkg-deb -f "$deb" Version), esperado $version"
depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libssl3 shared-mime-info \
    qt6-translations-l10n libqt6pdf6 libqt6printsupport6; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends sem $package: $depends"
done

# Exactly these files, owned by root, programs executable and data not.
expected="./usr/bin/selavia-reader 755
./usr/bin/selavia-verify 755
./usr/lib/selavia-reader/selavia-preview.so 644
./usr/libexec/selavia-reader/selavia-verify-report 755
./usr/share/applications/selavia-reader.desktop 644
./usr/share/bash-completion/completions/selavia-verify 644
./usr/share/icons/hicolor/scalable/apps/selavia-reader.svg 644
./usr/share/man/man1/selavia-verify.1 644
./usr/share/metainfo/example.selavia.reader.metainfo.xml 644
./usr/share/mime/packages/selavia-signed.xml 644"
actual=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {
    mode = 0
    for (i = 2; i <= 10; i++) mode = mode * 2 + (substr($1, i, 1) != "-")
    printf "%s %o%s\n", $6, mode, ($2 == "root/root" ? "" : " " $2)
}' | sort)
[ "$actual" = "$expected" ] || fail "conteúdo do pacote:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
share="$root/usr/share"
entry="$share/applications/selavia-reader.desktop"

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "desktop-file-validate"
fi
if command -v xmllint >/dev/null; then
    xmllint --noout "$share/mime/packages/selavia-signed.xml" || fail "xmllint"
fi

# The entry, the file type and the icon name one another.
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon sem ícone instalado"
# Its own type is defined by the package; signed PDFs and signatures are
# offered to it under the types the desktop already knows.
mime=application/x-selavia-signed
others="application/pdf application/pkcs7-signature application/pkcs7-mime"
mimes=$(sed -n 's/^MimeType=\(.*\);$/\1/p' "$entry")
[ "$mimes" = "$mime;${others// /;}" ] || fail "MimeType=$mimes"
grep -q "<mime-type type=\"$mime\">" "$share/mime/packages/selavia-signed.xml" \
    || fail "MimeType=$mime não definido no pacote"

# The preview's module, which the window loads by this entry's name.
nm -D --defined-only "$root/usr/lib/selavia-reader/selavia-preview.so" |
    grep -q ' selavia_make_preview_pane$' || fail "selavia-preview.so sem selavia_make_preview_pane"
# The window looks for it by a path relative to its own program (a UTF-16 text).
relative=$(strings -el "$root/usr/bin/selavia-reader" | grep -m1 '^\.\./.*selavia-preview\.so$' || true)
[ -n "$relative" ] && [ -f "$root/usr/bin/$relative" ] \
    || fail "selavia-reader procura o módulo em '$relative', fora do pacote"

help=$("$root/usr/bin/selavia-verify" --help) || fail "selavia-verify --help saiu com $?"
[[ $help == "Uso: selavia-verify"* ]] || fail "selavia-verify --help: $help"
# The software centres' listing: valid, naming the installed menu entry and
# this version.
metainfo="$share/metainfo/example.selavia.reader.metainfo.xml"
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$metainfo" >"$scratch/appstream.log" 2>&1 \
        || fail "appstreamcli validate:"$'\n'"$(cat "$scratch/appstream.log")"
else
    fail "appstreamcli não encontrado (pacote appstream)"
fi
grep -q "<launchable type=\"desktop-id\">$(basename "$entry")</launchable>" "$metainfo" \
    || fail "metainfo não aponta para $(basename "$entry")"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo sem a versão $version"

# The manual page renders cleanly and has an entry for every option the
# program lists in its help.
page="$share/man/man1/selavia-verify.1"
warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>&1 >"$scratch/man.txt") \
    || fail "man -l: $warnings"
[ -z "$warnings" ] || fail "man -l: $warnings"
options=$(grep -Eo '^ +(-[[:alnum:]], )?--[[:alnum:]-]+' <<<"$help" | grep -Eo -- '--[[:alnum:]-]+')
[ -n "$options" ] || fail "nenhuma opção em selavia-verify --help"
for option in $options; do
    grep -Eq "^ {7}(-[[:alnum:]], )?$option( |$)" "$scratch/man.txt" \
        || fail "página de manual sem a opção $option"
done

# The completion offers every option of the help, then paths after one that
# takes a path, and only signed files (.slv, .p7s, .p7m, .pdf) and folders as
# the signed file.
complete_words() { # words... (the last is the one being completed)
    PATH="$root/usr/bin:$PATH" bash -c '
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        _selavia_verify
        printf "%s\n" "${COMPREPLY[@]}"' _ "$share/bash-completion/completions/selavia-verify" "$@"
}
offered=$(complete_words selavia-verify -)
for option in $options; do
    grep -qx -- "$option" <<<"$offered" || fail "completação sem $option: $offered"
done
mkdir -p "$scratch/completar/pasta"
touch "$scratch/completar/contrato.slv" "$scratch/completar/OUTRO.SLV" "$scratch/completar/leia.txt" \
    "$scratch/completar/nota.p7s" "$scratch/completar/ata.P7M" "$scratch/completar/ata.p7x"
files=$(cd "$scratch/completar" && complete_words selavia-verify --json "")
[ "$(LC_ALL=C sort <<<"$files" | tr '\n' ' ')" = "OUTRO.SLV ata.P7M contrato.slv nota.p7s pasta " ] \
    || fail "completação do arquivo: $files"
paths=$(cd "$scratch/completar" && complete_words selavia-verify --extract "l")
[ "$paths" = leia.txt ] || fail "completação de --extract: $paths"
paths=$(cd "$scratch/completar" && complete_words selavia-verify --report "p")
[ "$paths" = pasta ] || fail "completação de --report: $paths"

# The installed selavia-verify finds the program that writes reports, and
# that program runs without a display.
sample="$(cd "$(dirname "$0")/.." && pwd)/samples/contrato-exemplo.slv"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM SELAVIA_OFFLINE=1 \
    "$root/usr/bin/selavia-verify" --report "$scratch/relatorio.pdf" "$sample" >/dev/null 2>&1 || true
head -c 5 "$scratch/relatorio.pdf" 2>/dev/null | grep -q '%PDF-' \
    || fail "selavia-verify --report não gravou o relatório"

if ldd "$root/usr/bin/selavia-reader" | grep 'not found'; then
    fail "selavia-reader: bibliotecas não encontradas"
fi
if ldd "$root/usr/libexec/selavia-reader/selavia-verify-report" | grep 'not found'; then
    fail "selavia-verify-report: bibliotecas não encontradas"
fi

if command -v gio >/dev/null; then
    documents="$scratch/Meus Documentos/pasta com espaços"
    mkdir -p "$documents"
    document="$documents/contrato \"final\" d'Ávila \$HOME \`x\` & ; |.SLV"
    openssl rand 64 >"$document"

    # The file type, by name alone and whatever the case of the extension.
    export XDG_DATA_HOME="$scratch/home" XDG_DATA_DIRS="$share:/usr/share"
    update-mime-database "$share/mime"
    type=$(gio info -a standard::content-type "$document" | sed -n 's/^ *standard::content-type: //p')
    [ "$type" = "$mime" ] || fail "tipo de $(basename "$document"): $type, esperado $mime"

    # A real launcher with a stand-in program that records its arguments: a
    # file arrives as the one argument "-o|PATH", the menu alone as none.
    mkdir -p "$scratch/bin"
    cat >"$scratch/bin/selavia-reader" <<SCRIPT
#!/bin/sh
{ echo "\$#"; for argument in "\$@"; do printf '%s\n' "\$argument"; done; } >"$scratch/arguments.new"
mv "$scratch/arguments.new" "$scratch/arguments"
SCRIPT
    chmod +x "$scratch/bin/selavia-reader"
    launch() { # expected-output [file]
        rm -f "$scratch/arguments"
        PATH="$scratch/bin:$PATH" gio launch "$entry" "${@:2}" || fail "gio launch $*"
        for _ in $(seq 100); do
            [ -f "$scratch/arguments" ] && break
            sleep 0.1
        done
        [ "$(cat "$scratch/arguments" 2>/dev/null)" = "$1" ] \
            || fail "gio launch ${*:2}: recebeu [$(cat "$scratch/arguments" 2>/dev/null)], esperado [$1]"
    }
    launch "1"$'\n'"-o|$document" "$document"
    launch "0"

    # The desktop offers the program for the document's type (TryExec finds
    # the stand-in).
    if command -v update-desktop-database >/dev/null; then
        update-desktop-database "$share/applications"
        handlers=$(PATH="$scratch/bin:$PATH" LC_ALL=C.UTF-8 gio mime "$type")
        grep -q "^Default application.*: selavia-reader.desktop$" <<<"$handlers" \
            || fail "gio mime $type: $handlers"
        # Offered for PDFs and signatures among the desktop's other
        # programs; which one is the default is the user's choice (the
        # package sets none). Each extension is typed as the entry lists it.
        for other in $others; do
            handlers=$(PATH="$scratch/bin:$PATH" LC_ALL=C.UTF-8 gio mime "$other")
            sed -n '/^Registered applications:/,/^[^[:space:]]/p' <<<"$handlers" \
                | grep -q "^[[:space:]]*selavia-reader.desktop$" \
                || fail "gio mime $other: $handlers"
        done
        for typed in "assinatura.P7S application/pkcs7-signature" \
            "contrato.pdf.p7m application/pkcs7-mime" "contrato.pdf application/pdf"; do
            name=${typed% *}
            openssl rand 64 >"$documents/$name"
            type=$(gio info -a standard::content-type "$documents/$name" \
                | sed -n 's/^ *standard::content-type: //p')
            [ "$type" = "${typed#* }" ] || fail "tipo de $name: $type, esperado ${typed#* }"
        done
    fi
fi

[ "$failures" -eq 0 ] || exit 1
echo "ok: $(basename "$deb")"
echo "Depends: $depends"
