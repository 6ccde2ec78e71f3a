#!/bin/bash
# The manual pages and the bash completion against what the programs say in
# --help: every option --help lists is in the program's manual page and every
# option in the page's OPTIONS section is in --help; the page's version is the
# program's; kalvor-link's commands are in its page; the completion offers
# every command and option, and the item names of a running program.
#     help_test.sh BUILD_DIR SOURCE_DIR PROGRAM...
set -u
build=$1 source=$2
shift 2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A manual page's source as plain text: no font escapes, \- as -.
plain() { sed -e 's/\\f[BIRP]//g' -e 's/\\f(..//g' -e 's/\\-/-/g' -e 's/\\&//g' "$1"; }
# Whether word $1 stands alone (not inside a longer option) in standard input.
has_word() { grep -Eq -- "(^|[^-[:alnum:]])$1([^-[:alnum:]]|$)"; }

for program in "$@"; do
    page=$build/packaging/man/$program.1   # as installed: with the version
    [ -f "$page" ] || { fail "no manual page $page"; continue; }
    help=$("$build/$program" --help 2>/dev/null)
    options=$(echo "$help" | sed -n 's/^  \(-[[:alnum:]], \)\{0,1\}\(--[[:alnum:]-]*\).*/\1\2/p' | tr -d ',' | xargs)
    [ -n "$options" ] || fail "$program --help lists no options"
    echo "$program --help lists: $options"
    for option in $options; do
        plain "$page" | has_word "$option" || fail "$program.1 lacks $option"
    done
    in_page=$(plain "$page" | awk '/^\.SH /{ s = ($2 == "OPTIONS") } s && prev == ".TP" { print } { prev = $1 }' |
        grep -Eo -- '(^|[ [])--?[[:alnum:]][[:alnum:]-]*' | tr -d ' [' | sort -u | xargs)
    for option in $in_page; do
        echo "$help" | has_word "$option" || fail "$program.1 describes $option, which $program --help does not list"
    done
    version=$("$build/$program" --version | awk '{ print $NF }')
    grep -q "^\.TH .*\"KALVOR $version\"" "$page" || fail "$program.1 is not of version $version"
done

# kalvor-link: its commands, and the completion.
link=$build/kalvor-link
commands=$("$link" --help | awk '/^Commands:/ { on = 1; next } on && /^$/ { on = 0 } on { print $1 }' | xargs)
[ -n "$commands" ] || fail "kalvor-link --help lists no commands"
echo "kalvor-link commands: $commands"
for command in $commands; do
    grep -Eq "^\.B[IR]? $command( |$)" "$build/packaging/man/kalvor-link.1" || fail "kalvor-link.1 lacks command $command"
done

. "$source/packaging/kalvor-link.bash-completion"
complete_line() {
    COMP_WORDS=("$link" "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _kalvor_link
    printf '%s\n' "${COMPREPLY[@]}" | line
}
# Lines as one sorted line of words (xargs would take backslashes away).
line() { sort | tr '\n' ' ' | sed 's/ *$//'; }
sorted() { printf '%s\n' "$@" | line; }
runtime=$(mktemp -d)
trap 'kill "$simulated" 2>/dev/null; wait 2>/dev/null; rm -rf "$runtime"' EXIT
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
[ "$(complete_line "")" = "$(sorted $commands)" ] || fail "completion offers commands: $(complete_line "")"
link_options=$("$link" --help | sed -n 's/^  \(-[[:alnum:]], \)\{0,1\}\(--[[:alnum:]-]*\).*/\1\2/p' | tr -d ',' | xargs)
[ "$(complete_line -)" = "$(sorted $link_options)" ] || fail "completion offers options: $(complete_line -)"
offline=$(complete_line get "")

# With a simulated program running: the names it serves, and its topics.
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$runtime/config XDG_CONFIG_DIRS=$runtime/config \
    "$build/kalvor" --simulate >"$runtime/kalvor.log" 2>&1 &
simulated=$!
for _ in $(seq 100); do "$link" -w 1 topics >/dev/null 2>&1 && break; sleep 0.1; done
data_items=$("$link" items data | line)
[ -n "$data_items" ] || { cat "$runtime/kalvor.log"; fail "the simulated program does not answer"; }
[ "$offline" = "$data_items" ] || fail "without a program the completion offers $offline, the program serves $data_items"
topics=$("$link" topics | line)
case " $topics " in *" simulator "*) ;; *) fail "no topic simulator among: $topics" ;; esac
[ "$(complete_line items "")" = "$topics" ] || fail "completion offers topics: $(complete_line items "")"
others=$(for topic in $topics; do
    [ "$topic" = data ] || "$link" items "$topic" | sed "s/^/$topic\\\\!/"
done | line)
[ "$(complete_line put "")" = "$others" ] || fail "completion of put offers: $(complete_line put "")"
[ "$(complete_line get "")" = "$(printf '%s\n' $data_items $others | line)" ] ||
    fail "completion of get offers: $(complete_line get "")"
[ "$(complete_line get "simulator\\!dos")" = 'simulator\!dosimeter' ] || fail "completion of simulator\\!dos: $(complete_line get "simulator\\!dos")"

[ "$failures" -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "manual pages and completion agree with --help"
