#pragma once

// ILDA files put together byte by byte from the format's published layout, without the
// program's own writer, so that the reader is checked against an independent source.

#include <string>
#include <vector>

namespace lumarok::test {

struct IldaTestPoint {
    int x = 0;
    int y = 0;
    int z = 0;
    bool blanked = false;
    int red = 0; // true-colour formats
    int green = 0;
    int blue = 0;
    int index = 0; // indexed formats
};

struct IldaTestColor {
    int red, green, blue;
};

// A 32-byte header; `name` and `company` are cut or padded with NUL to 8 bytes.
void appendIldaHeader(std::string& out, int format, int records, const std::string& name = "",
                      const std::string& company = "", int projector = 0);

// One frame in format 0, 1, 4 or 5; the last record gets the last-point bit unless
// `lastPointBit` is false.
void appendIldaFrame(std::string& out, int format, const std::vector<IldaTestPoint>& points,
                     bool lastPointBit = true, int projector = 0);

// A format 2 section (red, green, blue records).
void appendIldaPalette(std::string& out, const std::vector<IldaTestColor>& colors,
                       int projector = 0);

// The closing header (no records).
void appendIldaEnd(std::string& out);

} // namespace lumarok::test
