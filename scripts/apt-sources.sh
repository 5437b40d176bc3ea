# shellcheck shell=bash
# Sourced by the scripts that fetch from Debian themselves
# (build-qt-windows.sh, check_package.sh): this machine's own apt sources, so
# that they fetch from where the system does, through its mirror and its
# proxy, and no host is written into them.
#
#   apt_deb_entries [ETC]   prints the enabled `deb` entries of
#       ETC/sources.list and ETC/sources.list.d/*.list and *.sources (ETC is
#       /etc/apt unless given), one a line, fields separated by tabs:
#       URI  SUITE  COMPONENTS  SIGNED-BY
#       COMPONENTS are separated by spaces; SIGNED-BY is the keyring's path,
#       or empty (none given, or a key or fingerprint in the entry itself).

apt_deb_entries() {
    local etc=${1:-/etc/apt} f
    for f in "$etc/sources.list" "$etc"/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        # deb [ option=value ... ] URI SUITE [COMPONENT ...]
        awk '
            { sub(/#.*/, "") }
            $1 != "deb" { next }
            {
                line = $0; sub(/^[ \t]*deb[ \t]+/, "", line); keyring = ""
                if (substr(line, 1, 1) == "[") {
                    end = index(line, "]"); if (!end) next
                    n = split(substr(line, 2, end - 2), opts, /[ \t]+/)
                    for (i = 1; i <= n; i++)
                        if (tolower(opts[i]) ~ /^signed-by=\//) keyring = substr(opts[i], 11)
                    line = substr(line, end + 1)
                }
                n = split(line, w, /[ \t]+/); k = 0
                for (i = 1; i <= n; i++) if (w[i] != "") v[++k] = w[i]
                if (k < 2) next
                comps = ""
                for (i = 3; i <= k; i++) comps = comps (i > 3 ? " " : "") v[i]
                print v[1] "\t" v[2] "\t" comps "\t" keyring
            }' "$f"
    done
    for f in "$etc"/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        # Stanzas of "Field: value" lines; a line that starts with a blank
        # goes on the field before (only an embedded key does that).
        awk '
            function flush(  n, m, u, s, i, j) {
                if ((" " types " ") ~ /[ \t]deb[ \t]/ && enabled != "no") {
                    n = split(uris, u, /[ \t]+/); m = split(suites, s, /[ \t]+/)
                    for (i = 1; i <= n; i++) for (j = 1; j <= m; j++)
                        if (u[i] != "" && s[j] != "") print u[i] "\t" s[j] "\t" comps "\t" keyring
                }
                types = uris = suites = comps = enabled = keyring = ""
            }
            /^#/ { next }
            /^[ \t]*$/ { flush(); next }
            /^[ \t]/ { if (key == "signed-by") keyring = ""; next }
            {
                key = tolower($0); sub(/:.*/, "", key)
                value = $0; sub(/^[^:]*:[ \t]*/, "", value); sub(/[ \t]+$/, "", value)
                if (key == "types") types = value
                else if (key == "uris") uris = value
                else if (key == "suites") suites = value
                else if (key == "components") { comps = value; gsub(/[ \t]+/, " ", comps) }
                else if (key == "enabled") enabled = tolower(value)
                else if (key == "signed-by") keyring = value ~ /^\// ? value : ""
            }
            END { flush() }' "$f"
    done
}

#   apt_source_stanzas SUITE [ETC]   prints, as a deb822 source list, the `deb-src`
#       twins of this machine's entries of Debian's SUITE (SUITE itself and
#       SUITE-updates, SUITE-security, ...), component main: where the source
#       of an installed Debian package is. Prints nothing when there are none.
apt_source_stanzas() {
    apt_deb_entries "${2:-}" | awk -F'\t' -v suite="$1" '
        ($2 == suite || index($2, suite "-") == 1) && (" " $3 " ") ~ / main / {
            if (seen[$1 "\t" $2]++) next
            print "Types: deb-src"
            print "URIs: " $1
            print "Suites: " $2
            print "Components: main"
            if ($4 != "") print "Signed-By: " $4
            print ""
        }'
}
