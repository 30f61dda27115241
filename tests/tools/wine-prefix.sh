# Shared helpers for Wine prefixes (sourced by wine-run and the test scripts).

NIMBREL_WINE_TEMPLATE=${NIMBREL_WINE_TEMPLATE:-/tmp/nimbrel-wine-template-$(id -u)}

# Makes the template prefix once; concurrent callers wait for the first.
nimbrel_wine_template() {
    [ -f "$NIMBREL_WINE_TEMPLATE/.ready" ] && return 0
    mkdir -p "$(dirname "$NIMBREL_WINE_TEMPLATE")"
    (
        flock 9
        if [ ! -f "$NIMBREL_WINE_TEMPLATE/.ready" ]; then
            rm -rf "$NIMBREL_WINE_TEMPLATE"
            WINEPREFIX="$NIMBREL_WINE_TEMPLATE" WINEDEBUG=-all wineboot --init >/dev/null 2>&1 </dev/null
            WINEPREFIX="$NIMBREL_WINE_TEMPLATE" wineserver -w
            touch "$NIMBREL_WINE_TEMPLATE/.ready"
        fi
    ) 9>"$NIMBREL_WINE_TEMPLATE.lock"
    [ -f "$NIMBREL_WINE_TEMPLATE/.ready" ] || { echo "wine-prefix: cannot make $NIMBREL_WINE_TEMPLATE" >&2; return 1; }
}

# Prints the path of a new prefix: hard links to the template's files, private registry files.
nimbrel_wine_fresh_prefix() {
    local prefix
    prefix=$(mktemp -d /tmp/nimbrel-prefix.XXXXXX) || return 1
    cp -al "$NIMBREL_WINE_TEMPLATE/." "$prefix/" || return 1
    local reg
    for reg in "$prefix"/*.reg; do
        cp --remove-destination "$NIMBREL_WINE_TEMPLATE/$(basename "$reg")" "$reg"
    done
    rm -f "$prefix/.ready"
    echo "$prefix"
}

# Stops the prefix's wineserver and removes the prefix (unless NIMBREL_KEEP_PREFIX=1).
nimbrel_wine_discard_prefix() {
    local prefix=$1
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
    WINEPREFIX="$prefix" timeout 20 wineserver -w >/dev/null 2>&1
    if [ "${NIMBREL_KEEP_PREFIX:-0}" = 1 ]; then
        echo "wine-run: prefix kept at $prefix" >&2
    else
        rm -rf "$prefix"
    fi
}
