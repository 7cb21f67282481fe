#!/usr/bin/env bash
# The bash completion of z18fsck, loaded into a plain bash: each row is the words typed (the last
# one being completed) and the candidates it must offer.
#   tests/integrations/fsck_completion_test.sh path/to/completion/z18fsck
. "$(dirname "$0")/completion_lib.sh" z18fsck "$1"
mkdir saved && touch disk.z18 OLD.Z18 notes.txt
offers "OLD.Z18 disk.z18 saved " ""
offers "--help --json --version -b -o -u -x " -
offers "--help --json --version -b -o -u " -x saved -
offers "OLD.Z18 disk.z18 notes.txt saved " -b ""
offers "saved " -x ""
offers "OLD.Z18 disk.z18 notes.txt saved " -o ""
offers "disk.z18 " -o new.z18 d
[ $failed -eq 0 ] && echo "z18fsck completion: all cases pass"
exit $failed
