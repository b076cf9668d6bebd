#include "app/venue_choice.hpp"

#include "app/command_line.hpp"

namespace lumarok {

std::shared_ptr<const Venue> venueOf(const Options& options) {
    if (options.venueFile.empty()) {
        return nullptr;
    }
    auto venue = std::make_shared<const Venue>(readVenueFile(options.venueFile));
    for (const WantedProjector& projector : options.projectors) {
        (void)ProjectorCorrection(projector.placement, venue->find(projector.name), venue->path);
    }
    return venue;
}

ProjectorCorrection namedCorrection(const Options& options, const Venue* venue) {
    if (options.projectors.size() != 1 || options.allProjectors) {
        return {};
    }
    const std::string& name = options.projectors.front().name;
    const VenueEntry* entry = venue != nullptr ? venue->find(name) : nullptr;
    if (venue != nullptr && entry == nullptr) {
        throw UsageError(venue->path + " has no [projector." + name + "]");
    }
    return ProjectorCorrection(options.projectors.front().placement, entry,
                               venue != nullptr ? venue->path : "");
}

} // namespace lumarok
