#include "laser/ilda_palette.hpp"

namespace lumarok {

// Source: the "Suggested Default Color Palette" in Appendix A of the International Laser
// Display Association's ILDA Image Data Transfer Format, revision 011 (2014): saturated
// hues plus white (0 red, 16 yellow, 24 green, 31 cyan, 40 blue, 48 magenta, 56 white).
// Most files without a palette of their own, the ILDA test pattern among them, assume it.
const std::array<IldaColor, kIldaDefaultPaletteSize>& ildaDefaultPalette() {
    static constexpr std::array<IldaColor, kIldaDefaultPaletteSize> kPalette{{
        {255, 0, 0},     {255, 16, 0},    {255, 32, 0},    {255, 48, 0},    // 0
        {255, 64, 0},    {255, 80, 0},    {255, 96, 0},    {255, 112, 0},   // 4
        {255, 128, 0},   {255, 144, 0},   {255, 160, 0},   {255, 176, 0},   // 8
        {255, 192, 0},   {255, 208, 0},   {255, 224, 0},   {255, 240, 0},   // 12
        {255, 255, 0},   {224, 255, 0},   {192, 255, 0},   {160, 255, 0},   // 16
        {128, 255, 0},   {96, 255, 0},    {64, 255, 0},    {32, 255, 0},    // 20
        {0, 255, 0},     {0, 255, 36},    {0, 255, 73},    {0, 255, 109},   // 24
        {0, 255, 146},   {0, 255, 182},   {0, 255, 219},   {0, 255, 255},   // 28
        {0, 227, 255},   {0, 198, 255},   {0, 170, 255},   {0, 142, 255},   // 32
        {0, 113, 255},   {0, 85, 255},    {0, 56, 255},    {0, 28, 255},    // 36
        {0, 0, 255},     {32, 0, 255},    {64, 0, 255},    {96, 0, 255},    // 40
        {128, 0, 255},   {160, 0, 255},   {192, 0, 255},   {224, 0, 255},   // 44
        {255, 0, 255},   {255, 32, 255},  {255, 64, 255},  {255, 96, 255},  // 48
        {255, 128, 255}, {255, 160, 255}, {255, 192, 255}, {255, 224, 255}, // 52
        {255, 255, 255}, {255, 224, 224}, {255, 192, 192}, {255, 160, 160}, // 56
        {255, 128, 128}, {255, 96, 96},   {255, 64, 64},   {255, 32, 32},   // 60
    }};
    return kPalette;
}

} // namespace lumarok
