#include "laser/venue_file.hpp"

#include "core/settings_toml.hpp"
#include "core/usage_error.hpp"

#include <toml++/toml.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string_view>

namespace lumarok {

namespace {

// Where a value sits, for the one error line: file, line and its dotted key.
struct Place {
    const std::string& path;
    std::string key;
    std::size_t line;
    [[nodiscard]] Place at(const std::string& sub, const toml::node& node) const {
        const std::size_t here = node.source().begin.line;
        return {path, key + "." + sub, here != 0 ? here : line};
    }
    [[noreturn]] void fail(const std::string& what) const {
        throw UsageError(path + ":" + std::to_string(line) + ": " + key + ": " + what);
    }
};

const toml::table& tableOf(const Place& place, const toml::node& node) {
    const toml::table* table = node.as_table();
    if (table == nullptr) {
        place.fail("takes a table");
    }
    return *table;
}

// Refuses any key of the table not in `known`.
void onlyKeys(const Place& place, const toml::table& table,
              std::initializer_list<std::string_view> known) {
    for (const auto& [name, node] : table) {
        if (std::find(known.begin(), known.end(), name.str()) == known.end()) {
            std::string list;
            for (const std::string_view k : known) {
                list += (list.empty() ? "" : ", ") + std::string(k);
            }
            place.at(std::string(name.str()), node)
                .fail("unknown key (the keys here: " + list + ")");
        }
    }
}

double number(const Place& place, const toml::node& node, double low, double high) {
    std::optional<double> value;
    if (const auto integer = node.value_exact<std::int64_t>()) {
        value = static_cast<double>(*integer);
    } else if (const auto real = node.value_exact<double>()) {
        value = *real;
    }
    if (!value) {
        place.fail("takes a number");
    }
    if (!std::isfinite(*value) || *value < low || *value > high) {
        std::ostringstream range;
        range << "takes a number from " << low << " to " << high;
        place.fail(range.str());
    }
    return *value;
}

int wholeNumber(const Place& place, const toml::node& node, int low, int high) {
    const auto integer = node.value_exact<std::int64_t>();
    if (!integer) {
        place.fail("takes a whole number");
    }
    if (*integer < low || *integer > high) {
        place.fail("takes a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high));
    }
    return static_cast<int>(*integer);
}

bool flag(const Place& place, const toml::node& node) {
    const auto value = node.value_exact<bool>();
    if (!value) {
        place.fail("takes true or false");
    }
    return *value;
}

// Points may lie beyond the output square by one square's width, no further.
constexpr double kLowest = -4095.0;
constexpr double kHighest = 8190.0;

OutputPoint point(const Place& place, const toml::node& node, double low = kLowest,
                  double high = kHighest) {
    const toml::array* pair = node.as_array();
    if (pair == nullptr || pair->size() != 2) {
        place.fail("takes a point [x, y]");
    }
    return {number(place, (*pair)[0], low, high), number(place, (*pair)[1], low, high)};
}

const toml::array& arrayOf(const Place& place, const toml::node& node) {
    const toml::array* array = node.as_array();
    if (array == nullptr) {
        place.fail("takes a list");
    }
    return *array;
}

Placement placementOf(const Place& place, const toml::node& node) {
    const toml::table& table = tableOf(place, node);
    onlyKeys(place, table, {"flip_x", "flip_y", "rotate", "scale", "offset"});
    Placement placement;
    for (const auto& [name, value] : table) {
        const std::string key(name.str());
        const Place here = place.at(key, value);
        if (key == "flip_x") {
            placement.flipX = flag(here, value);
        } else if (key == "flip_y") {
            placement.flipY = flag(here, value);
        } else if (key == "rotate") {
            setTurn(placement, number(here, value, -3600.0, 3600.0));
        } else if (key == "scale") {
            placement.scale = static_cast<float>(number(here, value, 1e-6, 16.0));
        } else {
            const OutputPoint offset = point(here, value, -8190.0, 8190.0);
            placement.offsetX = static_cast<float>(offset.x);
            placement.offsetY = static_cast<float>(offset.y);
        }
    }
    return placement;
}

std::array<OutputPoint, 4> cornersOf(const Place& place, const toml::node& node) {
    const toml::array& list = arrayOf(place, node);
    if (list.size() != 4) {
        place.fail("takes four points [[x, y], ...]: where (0,0), (4095,0), (4095,4095) and "
                   "(0,4095) land");
    }
    std::array<OutputPoint, 4> corners;
    for (std::size_t i = 0; i < 4; ++i) {
        corners[i] = point(place, list[i]);
    }
    try {
        (void)CornerMap(corners);
    } catch (const std::invalid_argument& e) {
        place.fail(e.what());
    }
    return corners;
}

ColourCurve curveOf(const Place& place, const toml::node& node) {
    const toml::table& table = tableOf(place, node);
    onlyKeys(place, table, {"min", "max", "gamma"});
    ColourCurve curve;
    for (const auto& [name, value] : table) {
        const std::string key(name.str());
        const Place here = place.at(key, value);
        const double v =
            key == "gamma" ? number(here, value, 0.1, 10.0) : number(here, value, 0.0, 100.0);
        (key == "min" ? curve.min : key == "max" ? curve.max : curve.gamma) = v;
    }
    if (curve.min > curve.max) {
        place.fail("min is above max");
    }
    return curve;
}

void colourOf(const Place& place, const toml::node& node, ColourBalance& colour) {
    const toml::table& table = tableOf(place, node);
    onlyKeys(place, table, {"red", "green", "blue", "shift"});
    for (const auto& [name, value] : table) {
        const std::string key(name.str());
        const Place here = place.at(key, value);
        if (key == "shift") {
            colour.shift = wholeNumber(here, value, 0, 64);
        } else {
            (key == "red"     ? colour.red
             : key == "green" ? colour.green
                              : colour.blue) = curveOf(here, value);
        }
    }
}

Zone zoneOf(const Place& place, const toml::node& node) {
    const toml::table& table = tableOf(place, node);
    onlyKeys(place, table, {"kind", "points", "level"});
    Zone zone;
    bool hasKind = false;
    bool hasLevel = false;
    for (const auto& [name, value] : table) {
        const std::string key(name.str());
        const Place here = place.at(key, value);
        if (key == "kind") {
            const auto kind = value.value_exact<std::string>();
            if (!kind || (*kind != "keep-out" && *kind != "keep-in" && *kind != "attenuate")) {
                here.fail("takes \"keep-out\", \"keep-in\" or \"attenuate\"");
            }
            zone.kind = *kind == "keep-out"  ? ZoneKind::keepOut
                        : *kind == "keep-in" ? ZoneKind::keepIn
                                             : ZoneKind::attenuate;
            hasKind = true;
        } else if (key == "level") {
            zone.level = number(here, value, 0.0, 100.0);
            hasLevel = true;
        } else {
            const toml::array& list = arrayOf(here, value);
            if (list.size() < 3 || list.size() > kMaxZonePoints) {
                here.fail("takes from 3 to " + std::to_string(kMaxZonePoints) + " points, not " +
                          std::to_string(list.size()));
            }
            for (const toml::node& p : list) {
                zone.points.push_back(point(here, p));
            }
        }
    }
    if (!hasKind || zone.points.empty()) {
        place.fail("a zone needs kind and points");
    }
    if (hasLevel != (zone.kind == ZoneKind::attenuate)) {
        place.fail(hasLevel ? "level is for attenuate zones only"
                            : "an attenuate zone needs level");
    }
    return zone;
}

VenueEntry entryOf(const Place& place, const std::string& key, const toml::node& node) {
    const toml::table& table = tableOf(place, node);
    onlyKeys(place, table,
             {"placement", "corners", "intensity", "colour", "zone", "static_guard", "rate"});
    VenueEntry entry;
    entry.key = key;
    entry.where = place.path + ":" + std::to_string(place.line);
    for (const auto& [name, value] : table) {
        const std::string sub(name.str());
        const Place here = place.at(sub, value);
        if (sub == "placement") {
            entry.placement = placementOf(here, value);
        } else if (sub == "corners") {
            entry.corners = cornersOf(here, value);
        } else if (sub == "rate") {
            entry.pointRate = static_cast<std::uint32_t>(wholeNumber(here, value, 1, 1'000'000));
        } else if (sub == "intensity") {
            entry.colour.intensity = number(here, value, 0.0, 100.0);
        } else if (sub == "colour") {
            const double intensity = entry.colour.intensity;
            colourOf(here, value, entry.colour);
            entry.colour.intensity = intensity;
        } else if (sub == "static_guard") {
            const toml::table& guard = tableOf(here, value);
            onlyKeys(here, guard, {"size", "after_ms"});
            for (const auto& [guardName, guardValue] : guard) {
                const std::string guardKey(guardName.str());
                const Place at = here.at(guardKey, guardValue);
                if (guardKey == "size") {
                    entry.staticGuard.size = number(at, guardValue, 0.0, 100.0);
                } else {
                    entry.staticGuard.afterMs = wholeNumber(at, guardValue, 1, 10000);
                }
            }
        } else {
            const toml::array& zones = arrayOf(here, value);
            if (zones.size() > kMaxZones) {
                here.fail("takes at most " + std::to_string(kMaxZones) + " zones");
            }
            std::size_t points = 0;
            for (std::size_t i = 0; i < zones.size(); ++i) {
                const Place zonePlace = here.at(std::to_string(i), zones[i]);
                entry.zones.push_back(zoneOf(zonePlace, zones[i]));
                points += entry.zones.back().points.size();
                if (points > kMaxZonePoints) {
                    zonePlace.fail("the zones of a projector take at most " +
                                   std::to_string(kMaxZonePoints) + " points together");
                }
            }
        }
    }
    return entry;
}

} // namespace

const VenueEntry* Venue::find(const std::string& name, const std::string& address) const {
    // By name first: a table for the name wins over one for the address.
    for (const std::string* word : {&name, &address}) {
        for (const VenueEntry& entry : projectors) {
            if (!word->empty() && entry.key == *word) {
                return &entry;
            }
        }
    }
    return nullptr;
}

std::uint32_t pointRateOf(const VenueEntry* entry, std::uint32_t commandLine) {
    return entry != nullptr && entry->pointRate ? *entry->pointRate : commandLine;
}

Venue readVenueFile(const std::string& path) {
    const toml::table table = parseSettingsFile("--venue", path);
    Venue venue{path, {}};
    for (const auto& [name, node] : table) {
        const Place here{path, std::string(name.str()), name.source().begin.line};
        if (name.str() != "projector") {
            here.fail("unknown key (a venue file holds [projector.NAME] tables)");
        }
        for (const auto& [key, entry] : tableOf(here, node)) {
            const std::string projector(key.str());
            venue.projectors.push_back(entryOf(
                {path, "projector." + projector, key.source().begin.line}, projector, entry));
        }
    }
    return venue;
}

} // namespace lumarok
