#!/usr/bin/env bash
# The bash completion of z18man, sourced into this shell and asked for the completions of a table
# of command lines, on real images made by the tool under test.
#
#   completion_test.sh COMPLETION_FILE TOOL
#
# Each row gives a command line up to the cursor, the options the completion sets for readline
# (compopt; "-" for none), and the candidates it offers, in any order. Candidates are what
# readline inserts, so names from the image come quoted.
COMPLETION=$(readlink -f -- "$1")
TOOL=$2
. "$(dirname "$0")/lib.sh"

# The tool must be the one the command line names: z18man first on PATH.
mkdir "$SCRATCH/bin" "$SCRATCH/home"
ln -s "$TOOL" "$SCRATCH/bin/z18man"
export PATH=$SCRATCH/bin:$PATH HOME=$SCRATCH/home
cd "$SCRATCH/home" || exit 2

mkdir in disks out 'sp ace'
printf 'Hello from the host.\r\n' >in/hello.txt
printf 'x' >in/help.com
printf '$' >'in/a$b.txt'
printf "'" >"in/it's.doc"
head -c 5000 /dev/zero >in/data.bin
: >in/readme
make_image work.z18 in/hello.txt in/help.com 'in/a$b.txt' "in/it's.doc" in/data.bin in/readme || exit 2
make_image disks/other.z18 in/readme || exit 2
: >notes.txt
# 64 files fill the directory: the catalogue pauses after its 32nd and 64th rows.
mkdir many
for i in $(seq -w 1 64); do : >"many/F$i.TXT"; done
"$TOOL" full.z18 /a 'many/*.*' >/dev/null || exit 2
full_names=$(printf "'F%s.TXT' " $(seq -w 1 64))
cp work.z18 locked.z18
lock_image locked.z18 -x
cp work.z18 corrupt.z18
corrupt_image corrupt.z18
head -c 1000 /dev/zero >short.z18
images=$(md5sum ./*.z18 disks/*.z18)

. "$COMPLETION" || exit 2
check "registered for z18man" "complete -F _z18man z18man" "$(complete -p z18man)"

# The readline options a completion asked for, as compopt received them.
compopt() {
    [[ $1 == -o ]] && OPTIONS+=("$2")
}

# Splits a command line into words as bash does for completion: at spaces outside quotes.
split_words() {
    local line=$1 word= state= i c
    WORDS=()
    for ((i = 0; i < ${#line}; i++)); do
        c=${line:i:1}
        if [[ -z $state && $c == ' ' ]]; then
            WORDS+=("$word")
            word=
            continue
        fi
        word+=$c
        case $state in
            \') [[ $c == \' ]] && state= ;;
            *)
                if [[ $c == \\ ]]; then
                    ((i++))
                    word+=${line:i:1}
                elif [[ $c == [\'\"] ]]; then
                    [[ $state == "$c" ]] && state= || state=${state:-$c}
                fi
                ;;
        esac
    done
    WORDS+=("$word")
}

sorted() { printf '%s\n' "$@" | LC_ALL=C sort; }

# row LINE OPTIONS CANDIDATE...
row() {
    local line=$1 options=$2 errors
    shift 2
    split_words "$line"
    COMP_WORDS=("${WORDS[@]}")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    OPTIONS=()
    _z18man 2>"$SCRATCH/stderr"
    errors=$(<"$SCRATCH/stderr")
    check "[$line] candidates" "$(sorted "$@")" "$(sorted "${COMPREPLY[@]}")"
    check "[$line] options" "$options" "$(IFS=,; echo "${OPTIONS[*]:--}")"
    check "[$line] nothing on the terminal" "" "$errors"
}

# The image: *.z18 files and directories; readline quotes and adds slashes (filenames).
row 'z18man ' filenames corrupt.z18 disks full.z18 in locked.z18 many out short.z18 'sp ace' work.z18
row 'z18man w' filenames work.z18
row 'z18man disks/' filenames disks/other.z18
row 'z18man sp\ a' filenames 'sp ace'
row "z18man 'sp" filenames 'sp ace'
row 'z18man ~/w' filenames '~/work.z18'

# Switches: only those the grammar still allows.
row 'z18man work.z18 ' - /a /c /e /f /q /x
row 'z18man work.z18 /' - /a /c /e /f /q /x
row 'z18man work.z18 /f ' - /a
row 'z18man work.z18 /q /' - /a
row 'z18man work.z18 /a in/hello.txt ' - /f /q
row 'z18man work.z18 /f /a in/hello.txt ' -
row 'z18man work.z18 /c HELLO.TXT ' -
row 'z18man work.z18 /e HELLO.TXT ' -
row 'z18man work.z18 /x HELLO.TXT ' -
row 'z18man work.z18 /f /e' -
row 'z18man work.z18 -c ' -

# After /a: host files and directories.
row 'z18man work.z18 /a in/h' filenames in/hello.txt in/help.com
row 'z18man work.z18 /f /a n' filenames notes.txt

# After /c and /e: names from the image, quoted; letters match in either case, wildcards as in
# a mask; inside an open quote, the text that goes there. Several that part right after the
# typed text keep it as typed, so that the second Tab lists them.
row 'z18man work.z18 /c ' - "A\\\$B.TXT" DATA.BIN HELLO.TXT HELP.COM "IT\\'S.DOC" README
row 'z18man work.z18 /e he' - "'HELLO.TXT'" "'HELP.COM'"
row 'z18man work.z18 /e HELL' - "'HELLO.TXT'"
row "z18man work.z18 /e 'hel" - helLO.TXT helP.COM
row 'z18man work.z18 /e "A' - 'A\$B.TXT'
row "z18man work.z18 /e 'I" - "IT'\\''S.DOC"
row 'z18man work.z18 /e *.t' - "'A\$B.TXT'" "'HELLO.TXT'"
row 'z18man work.z18 /c H?L' - "'HELLO.TXT'" "'HELP.COM'"
row 'z18man work.z18 /e X' -
row 'z18man work.z18 /c out/' -
row 'z18man work /e r' - "'README'"
row 'z18man ~/work.z18 /e r' - "'README'"
row "z18man 'disks/other.z18' /e " - "'README'"
row 'z18man full.z18 /c ' - $full_names
row 'z18man full.z18 /c F6' - F60.TXT F61.TXT F62.TXT F63.TXT F64.TXT
row 'z18man full.z18 /e f0' - f01.TXT f02.TXT f03.TXT f04.TXT f05.TXT f06.TXT f07.TXT f08.TXT f09.TXT
row "z18man full.z18 /e 'f6" - f60.TXT f61.TXT f62.TXT f63.TXT f64.TXT
row 'z18man work.z18 /e hell' - "'HELLO.TXT'"

# After /x: directories (no space after a lone one), or names, also inside a directory.
row 'z18man work.z18 /x ' - disks/ in/ many/ out/ 'sp\ ace/' "A\\\$B.TXT" DATA.BIN HELLO.TXT \
    HELP.COM "IT\\'S.DOC" README
row 'z18man work.z18 /x ou' nospace out/
row 'z18man work.z18 /x sp' nospace 'sp\ ace/'
row 'z18man work.z18 /x out/h' - "out/'HELLO.TXT'" "out/'HELP.COM'"
row "z18man work.z18 /x 'out/he" - out/HELLO.TXT out/HELP.COM
row 'z18man work.z18 /x out/hel' - out/helLO.TXT out/helP.COM
row "z18man work.z18 /x out/'he" - HELLO.TXT HELP.COM
row 'z18man work.z18 /x ~/out/r' - "~/out/'README'"

# Images that cannot be listed give no names, and nothing on the terminal.
row 'z18man missing.z18 /c ' -
row 'z18man locked.z18 /e ' -
row 'z18man corrupt.z18 /c ' -
row 'z18man short.z18 /x o' nospace out/
row 'z18man notes.txt /c ' -
row 'z18man work.z18 /c ' - "A\\\$B.TXT" DATA.BIN HELLO.TXT HELP.COM "IT\\'S.DOC" README

# A word that would run something when expanded is not expanded.
row 'z18man $(touch\ ran) /c ' -
row 'z18man work.z18 /x `touch\ ran`/' -
check "nothing ran" "" "$(ls ran 2>/dev/null)"
check "no image changed" "$images" "$(md5sum ./*.z18 disks/*.z18)"

finish
