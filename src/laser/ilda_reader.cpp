#include "laser/ilda_reader.hpp"

#include "anim/data_file.hpp"
#include "laser/ilda_palette.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>
#include <utility>

namespace lumarok {

std::uint16_t ildaLevelFromCoordinate(std::int16_t coordinate) {
    // The writer's w(v) = 16 v + v / 256 - 32768 lies within 1/16 of v * 65535 / 4095
    // - 32768, so rounding the scaled span back gives v itself.
    const auto span = static_cast<std::uint32_t>(static_cast<std::int32_t>(coordinate) + 32768);
    return static_cast<std::uint16_t>((span * 4095 + 32767) / 65535);
}

std::uint16_t ildaLevelFromColor(std::uint8_t value) {
    return static_cast<std::uint16_t>((value * 4095u + 127u) / 255u);
}

namespace {

constexpr std::size_t kHeaderBytes = 32;
constexpr std::uint8_t kBlanked = 0x40;
constexpr std::size_t kPaletteEntries = 256;

struct Header {
    int format = 0;
    std::size_t records = 0;
    std::string name;
    std::string company;
    int projector = 0;
};

std::string headerText(std::span<const std::uint8_t> field) {
    std::string text;
    for (const std::uint8_t c : field) {
        if (c == 0) {
            break;
        }
        text.push_back(c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?');
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

std::string byteCount(std::size_t n) {
    return n == 1 ? "1 byte" : std::to_string(n) + " bytes";
}

// Bytes a record of the format takes; nothing for a format whose size is unknown.
std::optional<std::size_t> recordBytes(int format) {
    switch (format) {
    case 0:
        return 8;
    case 1:
        return 6;
    case 2:
        return 3;
    case 4:
        return 10;
    case 5:
        return 8;
    default:
        return std::nullopt;
    }
}

class Parser {
public:
    Parser(std::span<const std::uint8_t> bytes_, std::string name, const IldaLimits& limits_)
        : bytes(bytes_), fileName(std::move(name)), limits(limits_) {}

    IldaFile run() {
        while (readSection()) {
        }
        if (file.frames.empty()) {
            fail(stopReason.empty() ? "no frame in the file" : "no frame: " + stopReason);
        }
        if (!stopReason.empty()) {
            const std::size_t n = file.frames.size();
            warn(stopReason + "; playing " +
                 (n == 1 ? "the one frame" : "the " + std::to_string(n) + " frames") +
                 " before it");
        }
        if (thinnedFrames > 0) {
            warn(firstThinned +
                 (thinnedFrames > 1 ? " (and " + std::to_string(thinnedFrames - 1) + " more frames)"
                                    : ""));
        }
        if (pastPalette > 0) {
            warn(firstPastPalette + " (" + std::to_string(pastPalette) + " points in all)");
        }
        return std::move(file);
    }

private:
    std::uint16_t u16(std::size_t offset) const {
        return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
    }
    std::int16_t s16(std::size_t offset) const { return static_cast<std::int16_t>(u16(offset)); }

    std::string frameText() const { return "frame " + std::to_string(file.frames.size()); }

    [[noreturn]] void fail(const std::string& why) const {
        throw std::runtime_error(fileName + ": " + why);
    }
    void warn(const std::string& why) { file.warnings.push_back(fileName + ": " + why); }

    // False when reading ends here; stopReason says why unless the file closed properly.
    bool readSection() {
        const std::size_t left = bytes.size() - at;
        if (left == 0) {
            stopReason = file.frames.empty() ? "the file ends without a closing header"
                                             : "the file ends after frame " +
                                                   std::to_string(file.frames.size() - 1) +
                                                   " without its closing header";
            return false;
        }
        const bool signed_ = left >= kHeaderBytes && bytes[at] == 'I' && bytes[at + 1] == 'L' &&
                             bytes[at + 2] == 'D' && bytes[at + 3] == 'A';
        if (!signed_) {
            stopReason = "no ILDA section at byte " + std::to_string(at) + " (" + byteCount(left) +
                         " left, where " + frameText() + " would start)";
            return false;
        }
        Header header;
        header.format = bytes[at + 7];
        header.name = headerText(bytes.subspan(at + 8, 8));
        header.company = headerText(bytes.subspan(at + 16, 8));
        header.records = u16(at + 24);
        header.projector = bytes[at + 30];
        if (header.records == 0) {
            const std::size_t after = left - kHeaderBytes;
            if (after > 0) {
                warn("the " + byteCount(after) + " after the closing header that follows " +
                     "frame " + std::to_string(file.frames.size() - 1) +
                     (after == 1 ? " is ignored" : " are ignored"));
            }
            return false;
        }
        const std::optional<std::size_t> size = recordBytes(header.format);
        if (!size) {
            stopReason = "format " + std::to_string(header.format) + " at byte " +
                         std::to_string(at) + " (" + frameText() + ") has no known record size";
            return false;
        }
        const std::size_t need = header.records * *size;
        if (need > left - kHeaderBytes) {
            stopReason = frameText() + " is cut short: " + std::to_string(header.records) +
                         " records need " + std::to_string(need) + " bytes, " +
                         std::to_string(left - kHeaderBytes) + " are left";
            return false;
        }
        file.sections.push_back(
            {header.format, header.records, header.name, header.company, header.projector});
        const std::size_t recordsAt = at + kHeaderBytes;
        at += kHeaderBytes + need;
        if (header.format == 2) {
            readPalette(header, bytes.subspan(recordsAt, need));
        } else {
            readFrame(header, recordsAt, *size);
        }
        return true;
    }

    void readPalette(const Header& header, std::span<const std::uint8_t> records) {
        if (header.records < 2 || header.records > kPaletteEntries) {
            warn("the palette before " + frameText() + " has " + std::to_string(header.records) +
                 " colours (2 to 256 expected); " +
                 (header.records > kPaletteEntries ? "the first 256 are used" : "used as it is"));
        }
        std::vector<IldaColor>& palette = palettes[static_cast<std::size_t>(header.projector)];
        palette.clear();
        const std::size_t kept = std::min(header.records, kPaletteEntries);
        for (std::size_t i = 0; i < kept; ++i) {
            palette.push_back({records[3 * i], records[3 * i + 1], records[3 * i + 2]});
        }
    }

    IldaColor indexed(int projector, std::uint8_t index) {
        const std::vector<IldaColor>& own = palettes[static_cast<std::size_t>(projector)];
        const std::span<const IldaColor> palette =
            own.empty() ? std::span<const IldaColor>(ildaDefaultPalette()) : own;
        if (index < palette.size()) {
            return palette[index];
        }
        if (pastPalette++ == 0) {
            firstPastPalette = frameText() + ": colour index " + std::to_string(index) +
                               " is past the palette's " + std::to_string(palette.size()) +
                               " colours; such points take its last colour";
        }
        return palette.back();
    }

    // The record at `base`. Its last-point bit is not read: a frame ends after its
    // record count, since some writers never set the bit.
    IldaPoint decode(const Header& header, std::size_t base) {
        const bool threeD = header.format == 0 || header.format == 4;
        const std::uint8_t* record = bytes.data() + base;
        const std::size_t statusAt = threeD ? 6 : 4;
        IldaPoint point;
        // The projector's x runs opposite to ILDA's; both run upward in y.
        point.x = static_cast<std::uint16_t>(4095 - ildaLevelFromCoordinate(s16(base)));
        point.y = ildaLevelFromCoordinate(s16(base + 2));
        const std::uint8_t status = record[statusAt];
        IldaColor color;
        if (header.format == 0 || header.format == 1) {
            color = indexed(header.projector, record[statusAt + 1]);
        } else {
            color = {record[statusAt + 3], record[statusAt + 2], record[statusAt + 1]};
        }
        if ((status & kBlanked) == 0) { // blanking overrides any colour
            point.r = color.r;
            point.g = color.g;
            point.b = color.b;
        }
        return point;
    }

    void readFrame(const Header& header, std::size_t recordsAt, std::size_t recordSize) {
        // Several records may fold into one point when the frame is too long: each
        // group's last position, dark when any of its points is dark, so no blank
        // move is ever drawn lit.
        const std::size_t stride = (header.records + limits.maxFramePoints - 1) /
                                   std::max<std::size_t>(limits.maxFramePoints, 1);
        const std::size_t kept = (header.records + stride - 1) / stride;
        if (file.points.size() + kept > limits.maxPoints) {
            fail(frameText() + ": more than " + std::to_string(limits.maxPoints) +
                 " points in all, the most the player holds");
        }
        IldaFrame frame{file.points.size(), kept};
        for (std::size_t first = 0; first < header.records; first += stride) {
            const std::size_t end = std::min(first + stride, header.records);
            IldaPoint point;
            bool dark = false;
            for (std::size_t i = first; i < end; ++i) {
                point = decode(header, recordsAt + i * recordSize);
                dark = dark || (point.r == 0 && point.g == 0 && point.b == 0);
            }
            if (dark) {
                point.r = point.g = point.b = 0;
            }
            file.points.push_back(point);
        }
        if (stride > 1 && thinnedFrames++ == 0) {
            firstThinned = frameText() + " has " + std::to_string(header.records) +
                           " points, thinned to " + std::to_string(kept) + " to stay within " +
                           std::to_string(limits.maxFramePoints);
        }
        file.frames.push_back(frame);
    }

    std::span<const std::uint8_t> bytes;
    std::string fileName;
    IldaLimits limits;
    std::size_t at = 0;
    IldaFile file;
    std::array<std::vector<IldaColor>, 256> palettes; // per projector; empty: the default
    std::string stopReason;
    std::size_t thinnedFrames = 0;
    std::string firstThinned;
    std::size_t pastPalette = 0;
    std::string firstPastPalette;
};

} // namespace

IldaFile parseIlda(std::span<const std::uint8_t> bytes, const std::string& fileName,
                   const IldaLimits& limits) {
    return Parser(bytes, fileName, limits).run();
}

IldaFile readIldaFile(const std::filesystem::path& file, const IldaLimits& limits) {
    const std::optional<std::string> text = readDataFile(file, limits.maxFileBytes);
    if (!text) {
        throw std::runtime_error(file.string() + ": no such file");
    }
    return parseIlda(std::span(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()),
                     file.string(), limits);
}

} // namespace lumarok
