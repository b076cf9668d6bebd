#include "laser/ilda_writer.hpp"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>

namespace lumarok {

namespace {

constexpr std::size_t kMaxCount = 65535; // the format's 16-bit counts
constexpr char kFormatTrueColor2d = 5;
constexpr unsigned char kLastPoint = 0x80;
constexpr unsigned char kBlanked = 0x40;
constexpr char kCompanyName[8] = {'l', 'u', 'm', 'a', 'r', 'o', 'k', '\0'};

void appendU16(std::vector<char>& bytes, std::uint16_t value) {
    bytes.push_back(static_cast<char>(value >> 8));
    bytes.push_back(static_cast<char>(value & 0xff));
}

} // namespace

std::int16_t ildaCoordinate(std::uint16_t level) {
    const unsigned v = level > 4095 ? 4095u : level;
    return static_cast<std::int16_t>(static_cast<int>(v * 16 + v / 256) - 32768);
}

std::uint8_t ildaColorLevel(std::uint16_t level) {
    const unsigned v = level > 4095 ? 4095u : level;
    return static_cast<std::uint8_t>((v * 255 + 2047) / 4095);
}

IldaWriter::IldaWriter(const std::filesystem::path& file, std::size_t totalFrames_,
                       std::filesystem::path shownName)
    : path(shownName.empty() ? file : std::move(shownName)), totalFrames(totalFrames_) {
    if (totalFrames == 0 || totalFrames > kMaxCount) {
        throw std::invalid_argument("an ILDA file holds 1 to 65535 frames, not " +
                                    std::to_string(totalFrames));
    }
    out.open(file, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void IldaWriter::appendHeader(std::size_t recordCount) {
    // Frames are numbered from 0; the closing header repeats the last frame's number.
    const std::size_t frameNumber = framesWritten == 0 ? 0 : framesWritten - 1;
    bytes.insert(bytes.end(), {'I', 'L', 'D', 'A', 0, 0, 0, kFormatTrueColor2d});
    char name[24];
    std::snprintf(name, sizeof name, "%08zu", frameNumber); // at most 65534: eight digits
    bytes.insert(bytes.end(), name, name + 8); // eight digits fill the field, no terminator
    bytes.insert(bytes.end(), kCompanyName, kCompanyName + 8);
    appendU16(bytes, static_cast<std::uint16_t>(recordCount));
    appendU16(bytes, static_cast<std::uint16_t>(frameNumber));
    appendU16(bytes, static_cast<std::uint16_t>(totalFrames));
    bytes.push_back(0); // projector number
    bytes.push_back(0); // reserved
}

void IldaWriter::writeFrame(const std::vector<LaserSample>& samples) {
    if (samples.empty() || samples.size() > kMaxCount) {
        throw std::invalid_argument("an ILDA frame holds 1 to 65535 points, not " +
                                    std::to_string(samples.size()));
    }
    if (framesWritten == totalFrames) {
        throw std::invalid_argument("more ILDA frames than the " + std::to_string(totalFrames) +
                                    " announced");
    }
    ++framesWritten;
    bytes.clear();
    appendHeader(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const LaserSample& s = samples[i];
        const bool dark = s.r == 0 && s.g == 0 && s.b == 0;
        appendU16(bytes, static_cast<std::uint16_t>(
                             ildaCoordinate(4095 - std::min<std::uint16_t>(s.x, 4095))));
        appendU16(bytes, static_cast<std::uint16_t>(ildaCoordinate(s.y)));
        unsigned char status = dark ? kBlanked : 0;
        if (i + 1 == samples.size()) {
            status |= kLastPoint;
        }
        bytes.push_back(static_cast<char>(status));
        bytes.push_back(static_cast<char>(ildaColorLevel(s.b)));
        bytes.push_back(static_cast<char>(ildaColorLevel(s.g)));
        bytes.push_back(static_cast<char>(ildaColorLevel(s.r)));
    }
    flushBytes();
}

void IldaWriter::finish() {
    if (framesWritten != totalFrames) {
        throw std::invalid_argument("ILDA file ends after " + std::to_string(framesWritten) +
                                    " of " + std::to_string(totalFrames) + " frames");
    }
    bytes.clear();
    appendHeader(0);
    flushBytes();
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void IldaWriter::flushBytes() {
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

} // namespace lumarok
