#include "app/version.hpp"

namespace lumarok {

const char* versionText() {
    return "lumarok " LUMAROK_VERSION;
}

} // namespace lumarok
