#pragma once

#include "app/result.h"
#include "registration/component.h"

#include <QString>

#include <optional>

namespace registration {

// How a registered class is activated, through component(); nothing for a
// class without a registration. A RegistrationUnreadable failure when the
// class registration could not be read, which is not the same as none.
app::Result<std::optional<ActivationSettings>> readRemoteSettings(const QString& server);

// Whether a class could be remembered in the "Servers" section after its
// settings were written; a failure there does not undo the update.
using Remembered = app::Result<>;

// Writes how a registered class is activated, through component(). With
// remote set, the machine, protocol and level are passed on as given (an
// omitted one stays omitted; the properties dialog always passes all three,
// empty strings standing for no choice). With remote clear only the flag and
// the class name are passed, whatever else was given.
//
// Status 0: the class is remembered in the "Servers" section; the value says
// whether that worked. Any other status: a RegistrationNotUpdated failure,
// and nothing is remembered.
app::Result<Remembered> SaveRemoteSettings(bool remote, const QString& server,
                                           const std::optional<QString>& machine = std::nullopt,
                                           const std::optional<QString>& protocol = std::nullopt,
                                           const std::optional<QString>& level = std::nullopt);

}  // namespace registration
