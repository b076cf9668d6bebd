#pragma once

#include "core/remap_table.hpp"

#include <filesystem>
#include <iosfwd>
#include <string>

namespace lumarok {

// Reads ./data/remap.txt (or `file`): two frame numbers at 60 per second,
// counted from 1, per line, read through readDataFile. A file that does not exist
// gives an empty table. A line without two integers is reported on standard
// output (the first few per file) and skipped; blank lines are skipped quietly.
// A file with text but not one such line raises DataError naming it.
RemapTable loadRemapTable();
RemapTable loadRemapTable(const std::filesystem::path& file);
RemapTable readRemapTable(std::istream& text, const std::string& sourceName);

} // namespace lumarok
