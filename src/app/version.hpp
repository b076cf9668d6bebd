#pragma once

namespace lumarok {

// The program's version, as "lumarok X.Y.Z".
const char* versionText();

} // namespace lumarok
