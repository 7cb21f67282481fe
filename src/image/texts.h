// The image store's format messages. Users' scripts match these, spelling included.
#pragma once

namespace z18::texts {

constexpr const char* IMAGE_EXTENSION = ".z18";

constexpr const char* IMAGE_CREATED_1 = "Image '";
constexpr const char* IMAGE_CREATED_2 = "' was created.\n";
constexpr const char* IMAGE_FORMATTED_1 = "Image '";
constexpr const char* IMAGE_FORMATTED_2 = "' was formated.\n";

}  // namespace z18::texts
