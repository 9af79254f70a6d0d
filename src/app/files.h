#pragma once

#include <QString>

namespace app {

// True when a file (not a directory) named path exists and its modification
// time can be read. Never raises and never shows anything.
bool FileExists(const QString& path);

}  // namespace app
