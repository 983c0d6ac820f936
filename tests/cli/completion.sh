#!/bin/bash
# The bash completion of tovalin-cli: every option of its help, the values
# of the options that take a word, folders for -o, and file names with
# blanks kept whole.
set -euo pipefail
cli=$1
completion=$2
source "$completion"
fail=0
# complete WORD...: the completions of the last word, one line each, sorted.
complete_words() {
    COMP_WORDS=(tovalin-cli "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _tovalin_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect() { # expect WHAT EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then echo "ok: $1"; else printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"; fail=1; fi
}
options=$(complete_words -- | tr '\n' ' ')
for option in $("$cli" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    expect "completes $option" yes "$(grep -qw -- "$option" <<<"$options" && echo yes || echo no)"
done
expect "--enc" "--encoder" "$(complete_words --enc)"
expect "--encoder values" "$(printf 'libjpeg\ntovalin')" "$(complete_words --encoder '')"
expect "--metadata values" "safe" "$(complete_words --metadata s)"
expect "--factor takes a number" "" "$(complete_words --factor '')"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir pics
touch a.jpg "my photo.jpg"
expect "-o offers folders only" "pics" "$(complete_words -o '')"
expect "names with blanks stay whole" "my photo.jpg" "$(complete_words --kb 40 'my')"
exit $fail
