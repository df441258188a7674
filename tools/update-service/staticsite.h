#pragma once

#include "release.h"

namespace updateservice {

inline constexpr const char* kStaticSiteFolder = "site";

// Lays the release out for a plain web server, below release.folder + "/site":
//   www/check        the check answer offering the release
//   www/pack/<id>    the package (a hard link where the file system allows), and beside it
//                    the deltas and their plans
//   nginx.conf       serves www on port 8080; its first lines tell how to start it
//   logs/, tmp/      for nginx's own files
// nginx.conf names nothing outside the site folder, so the releases folder may move.
Outcome writeStaticSite(const Release& release);

} // namespace updateservice
