#include "commands/commands.h"
#include "commands/texts.h"
#include "image/directory.h"
#include "session/status.h"

namespace z18 {

void eraseFiles(Session& s) {
    s.out << texts::ERASE_HEAD_1 << visible(s.imageName) << texts::ERASE_HEAD_2 << visible(s.mask)
          << texts::ERASE_HEAD_3;

    int erased = 0;
    for (int a = beginSearch(s, s.maskName); a >= 0; a = nextMatch(s)) {
        // The key is taken before the user byte is overwritten: it still names the file's area.
        freeEntries(s, keyOf(s, a));
        ++erased;
        s.out << texts::ERASE_FILE_1;
        s.out << visible(reinterpret_cast<const char*>(s.entryAt(a) + entry::NAME), NAME_TYPE_SIZE);
        s.out << texts::ERASE_FILE_2;
    }
    s.out << texts::ERASE_DONE_1 << erased << texts::ERASE_DONE_2;
}

}  // namespace z18
