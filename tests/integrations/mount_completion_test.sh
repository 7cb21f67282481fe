#!/usr/bin/env bash
# The bash completion of z18mount, loaded into a plain bash: each row is the words typed (the last
# one being completed) and the candidates it must offer.
#   tests/integrations/mount_completion_test.sh path/to/completion/z18mount
. "$(dirname "$0")/completion_lib.sh" z18mount "$1"
mkdir mnt && touch disk.z18 OLD.Z18 notes.txt
offers "OLD.Z18 disk.z18 mnt " ""
offers "mnt " disk.z18 ""
offers "mnt " -o ro disk.z18 ""
offers "--help --version -d -f -o " -
offers "ro rw " -o r
offers "ro,allow_other ro,allow_root " -o ro,all
[ $failed -eq 0 ] && echo "z18mount completion: all cases pass"
exit $failed
