// What z18fsck tells: the check's lines, the line of each salvaged file, the summary, and the
// same as one JSON document.
#pragma once

#include <cstddef>
#include <string>

#include "fsck/run.h"

namespace z18::fsck {

std::string checkText(const Options& o, const Plan& plan);
std::string fileLine(const Plan& plan, std::size_t k, const Salvage& salvage);
std::string summaryLine(const Options& o, const Plan& plan);
std::string jsonReport(const Options& o, const Plan& plan, const Salvage& salvage, const Repair& repair,
                       int status);
std::size_t problemCount(const Plan& plan);

// Text from the image or a host folder, made safe to print; and in quotes.
std::string shown(const std::string& text);
std::string quoted(const std::string& text);

}  // namespace z18::fsck
