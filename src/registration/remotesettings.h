#pragma once

#include <QString>

#include <optional>

namespace registration {

// Writes how a registered class is activated, through component(). With
// remote set, the machine, protocol and level are passed on as given (an
// omitted one stays omitted; the properties dialog always passes all three,
// empty strings standing for no choice). With remote clear only the flag and
// the class name are passed, whatever else was given.
//
// Status 0: the class is recorded in the "Servers" section and the result is
// true. Any other status: the user is told "Unable to update registry, please
// try again" and the result is false; nothing is recorded.
bool SaveRemoteSettings(bool remote, const QString& server,
                        const std::optional<QString>& machine = std::nullopt,
                        const std::optional<QString>& protocol = std::nullopt,
                        const std::optional<QString>& level = std::nullopt);

}  // namespace registration
