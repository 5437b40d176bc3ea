#!/usr/bin/env bash
# scripts/apt-sources.sh on apt configurations of both formats: each row is a
# file of a fake /etc/apt, and the entries read from it (URI SUITE
# COMPONENTS SIGNED-BY, "|" for a tab here), or the deb-src list made for
# bookworm.
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../scripts/apt-sources.sh
. "$here/../../scripts/apt-sources.sh"

failed=0
etc=$(mktemp -d)
trap 'rm -rf "$etc"' EXIT

# row NAME FILE CONTENT EXPECTED [FUNCTION]
row() {
    local name=$1 file=$2 content=$3 expected=$4 function=${5:-entries} actual
    rm -rf "${etc:?}"/* && mkdir -p "$etc/sources.list.d"
    printf '%s\n' "$content" >"$etc/$file"
    if [ "$function" = entries ]; then
        actual=$(apt_deb_entries "$etc" | tr '\t' '|')
    else
        actual=$(apt_source_stanzas bookworm "$etc")
    fi
    if [ "$actual" = "$expected" ]; then
        echo "ok   - $name"
    else
        echo "FAIL - $name"
        echo "  expected: ${expected//$'\n'/$'\n'            }"
        echo "  actual:   ${actual//$'\n'/$'\n'            }"
        failed=$((failed + 1))
    fi
}

row "one-line entry" sources.list \
    'deb http://mirror.example/debian bookworm main contrib' \
    'http://mirror.example/debian|bookworm|main contrib|'
row "options in brackets, with the keyring" sources.list.d/a.list \
    'deb [ arch=amd64 signed-by=/usr/share/keyrings/k.gpg ] http://m.example/d bookworm-updates main # comment' \
    'http://m.example/d|bookworm-updates|main|/usr/share/keyrings/k.gpg'
row "deb-src lines, comments and a flat repository" sources.list \
    "$(printf '%s\n' '# deb http://old.example/debian bookworm main' \
        'deb-src http://m.example/debian bookworm main' 'deb http://flat.example/repo ./')" \
    'http://flat.example/repo|./||'
row "deb822: every URI with every suite" sources.list.d/debian.sources \
    "$(printf '%s\n' 'Types: deb deb-src' '# a comment inside the stanza' \
        'URIs: http://a.example/debian http://b.example/debian' 'Suites: bookworm bookworm-updates' \
        'Components: main  non-free-firmware' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg')" \
    "$(printf '%s\n' \
        'http://a.example/debian|bookworm|main non-free-firmware|/usr/share/keyrings/debian-archive-keyring.gpg' \
        'http://a.example/debian|bookworm-updates|main non-free-firmware|/usr/share/keyrings/debian-archive-keyring.gpg' \
        'http://b.example/debian|bookworm|main non-free-firmware|/usr/share/keyrings/debian-archive-keyring.gpg' \
        'http://b.example/debian|bookworm-updates|main non-free-firmware|/usr/share/keyrings/debian-archive-keyring.gpg')"
row "deb822: disabled, deb-src only, and an embedded key" sources.list.d/x.sources \
    "$(printf '%s\n' 'Types: deb' 'URIs: http://off.example/d' 'Suites: bookworm' 'Components: main' \
        'Enabled: no' '' 'Types: deb-src' 'URIs: http://src.example/d' 'Suites: bookworm' \
        'Components: main' '' 'types: deb' 'uris: http://key.example/d' 'suites: bookworm' \
        'components: main' 'signed-by:' ' -----BEGIN PGP PUBLIC KEY BLOCK-----' ' .' \
        ' -----END PGP PUBLIC KEY BLOCK-----')" \
    'http://key.example/d|bookworm|main|'
row "deb-src list: Debian's suites with main, each once, keyring kept" sources.list.d/y.sources \
    "$(printf '%s\n' 'Types: deb' 'URIs: http://m.example/debian' \
        'Suites: bookworm bookworm-security bookworm-updates' 'Components: main' \
        'Signed-By: /k.gpg' '' 'Types: deb' 'URIs: http://m.example/debian' 'Suites: bookworm' \
        'Components: main contrib' '' 'Types: deb' 'URIs: http://third.example/apt' \
        'Suites: bookworm' 'Components: stable' '' 'Types: deb' 'URIs: http://old.example/d' \
        'Suites: bullseye bookwormish' 'Components: main')" \
    "$(printf '%s\n' 'Types: deb-src' 'URIs: http://m.example/debian' 'Suites: bookworm' \
        'Components: main' 'Signed-By: /k.gpg' '' 'Types: deb-src' 'URIs: http://m.example/debian' \
        'Suites: bookworm-security' 'Components: main' 'Signed-By: /k.gpg' '' 'Types: deb-src' \
        'URIs: http://m.example/debian' 'Suites: bookworm-updates' 'Components: main' \
        'Signed-By: /k.gpg')" \
    stanzas
row "deb-src list: nothing of Debian's" sources.list \
    'deb http://third.example/apt nodistro main' '' stanzas

[ $failed -eq 0 ] || { echo "$failed failed"; exit 1; }
echo "all passed"
