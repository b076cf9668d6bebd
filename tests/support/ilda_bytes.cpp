#include "support/ilda_bytes.hpp"

namespace lumarok::test {

namespace {

void appendByte(std::string& out, int value) {
    out.push_back(static_cast<char>(value & 0xff));
}

void appendBigEndian16(std::string& out, int value) {
    appendByte(out, (value >> 8) & 0xff);
    appendByte(out, value & 0xff);
}

void appendField(std::string& out, const std::string& text) {
    std::string field = text.substr(0, 8);
    field.resize(8, '\0');
    out += field;
}

} // namespace

void appendIldaHeader(std::string& out, int format, int records, const std::string& name,
                      const std::string& company, int projector) {
    out += "ILDA";
    out.append(3, '\0');
    appendByte(out, format);
    appendField(out, name);
    appendField(out, company);
    appendBigEndian16(out, records);
    appendBigEndian16(out, 0); // frame number
    appendBigEndian16(out, 0); // total frames
    appendByte(out, projector);
    appendByte(out, 0);
}

void appendIldaFrame(std::string& out, int format, const std::vector<IldaTestPoint>& points,
                     bool lastPointBit, int projector) {
    appendIldaHeader(out, format, static_cast<int>(points.size()), "frame", "test", projector);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const IldaTestPoint& p = points[i];
        appendBigEndian16(out, p.x);
        appendBigEndian16(out, p.y);
        if (format == 0 || format == 4) {
            appendBigEndian16(out, p.z);
        }
        const bool last = lastPointBit && i + 1 == points.size();
        appendByte(out, (last ? 0x80 : 0) | (p.blanked ? 0x40 : 0));
        if (format == 0 || format == 1) {
            appendByte(out, p.index);
        } else { // blue, green, red
            appendByte(out, p.blue);
            appendByte(out, p.green);
            appendByte(out, p.red);
        }
    }
}

void appendIldaPalette(std::string& out, const std::vector<IldaTestColor>& colors, int projector) {
    appendIldaHeader(out, 2, static_cast<int>(colors.size()), "palette", "test", projector);
    for (const IldaTestColor& c : colors) {
        appendByte(out, c.red);
        appendByte(out, c.green);
        appendByte(out, c.blue);
    }
}

void appendIldaEnd(std::string& out) {
    appendIldaHeader(out, 5, 0);
}

} // namespace lumarok::test
