#!/usr/bin/env bash
# scripts/apt-sources.sh on apt configurations of both formats. Each row is a
# file of a fake /etc/apt ("\n" between lines) and what is read from it: the
# entries, "|" between the fields, or the deb-src list made for bookworm.
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../scripts/apt-sources.sh
. "$here/../../scripts/apt-sources.sh"
etc=$(mktemp -d)
trap 'rm -rf "$etc"' EXIT
failed=0

# row NAME FILE CONTENT EXPECTED [stanzas]
row() {
    local actual expected
    rm -rf "${etc:?}"/* && mkdir -p "$etc/sources.list.d" && printf '%b\n' "$3" >"$etc/$2"
    expected=$(printf '%b' "$4")
    if [ "${5:-}" = stanzas ]; then actual=$(apt_source_stanzas bookworm "$etc")
    else actual=$(apt_deb_entries "$etc" | tr '\t' '|'); fi
    [ "$actual" = "$expected" ] && { echo "ok   - $1"; return; }
    printf 'FAIL - %s\n  expected:\n%s\n  actual:\n%s\n' "$1" "$expected" "$actual"
    failed=$((failed + 1))
}

row "one-line entry" sources.list 'deb http://m.example/debian bookworm main contrib' \
    'http://m.example/debian|bookworm|main contrib|'
row "options in brackets, the keyring kept, a comment" sources.list.d/a.list \
    'deb [ arch=amd64 signed-by=/k.gpg ] http://m.example/d bookworm-updates main # c' \
    'http://m.example/d|bookworm-updates|main|/k.gpg'
row "deb-src lines and comments left out, a flat repository kept" sources.list \
    '# deb http://old.example/d bookworm main\ndeb-src http://m.example/d bookworm main\ndeb http://flat.example/r ./' \
    'http://flat.example/r|./||'
row "deb822: every URI with every suite" sources.list.d/d.sources \
    'Types: deb deb-src\n# comment\nURIs: http://a.example/d http://b.example/d\nSuites: bookworm bookworm-updates\nComponents: main  contrib\nSigned-By: /k.gpg' \
    'http://a.example/d|bookworm|main contrib|/k.gpg\nhttp://a.example/d|bookworm-updates|main contrib|/k.gpg\nhttp://b.example/d|bookworm|main contrib|/k.gpg\nhttp://b.example/d|bookworm-updates|main contrib|/k.gpg'
row "deb822: disabled, deb-src only, an embedded key" sources.list.d/x.sources \
    'Types: deb\nURIs: http://off.example/d\nSuites: bookworm\nComponents: main\nEnabled: no\n\nTypes: deb-src\nURIs: http://src.example/d\nSuites: bookworm\nComponents: main\n\ntypes: deb\nuris: http://key.example/d\nsuites: bookworm\ncomponents: main\nsigned-by:\n -----BEGIN PGP PUBLIC KEY BLOCK-----\n .\n -----END PGP PUBLIC KEY BLOCK-----' \
    'http://key.example/d|bookworm|main|'
row "deb-src list: Debian's suites with main, each once" sources.list.d/y.sources \
    'Types: deb\nURIs: http://m.example/d\nSuites: bookworm bookworm-security\nComponents: main\nSigned-By: /k.gpg\n\nTypes: deb\nURIs: http://m.example/d\nSuites: bookworm\nComponents: main contrib\n\nTypes: deb\nURIs: http://third.example/apt\nSuites: bookworm\nComponents: stable\n\nTypes: deb\nURIs: http://old.example/d\nSuites: bullseye bookwormish\nComponents: main' \
    'Types: deb-src\nURIs: http://m.example/d\nSuites: bookworm\nComponents: main\nSigned-By: /k.gpg\n\nTypes: deb-src\nURIs: http://m.example/d\nSuites: bookworm-security\nComponents: main\nSigned-By: /k.gpg' \
    stanzas
row "deb-src list: nothing of Debian's" sources.list 'deb http://third.example/apt nodistro main' '' stanzas

[ $failed -eq 0 ]
