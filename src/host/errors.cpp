#include "host/env.h"
#include "host/texts.h"

namespace z18 {

static_assert(sizeof texts::HOST_ERROR_TEXTS / sizeof texts::HOST_ERROR_TEXTS[0] ==
                  static_cast<std::size_t>(HostErrorKind::Other) + 1,
              "one text for every kind of failure");

std::string errorText(const HostError& error) {
    if (error.code != 0) return systemErrorText(error.code);
    return texts::HOST_ERROR_TEXTS[static_cast<std::size_t>(error.kind)];
}

}  // namespace z18
