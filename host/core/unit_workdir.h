#pragma once
#include <string>

namespace norvane {

// Makes `dir` the unit's working folder: creates it if missing, points the
// platform layer at it and creates the six roots of the unit's file system.
// Returns false with the reason when the folder cannot be made.
bool prepare_unit_workdir(const std::string& dir, std::string& why);

// The unit's state in folder `to` (its rootfs, where the settings image is)
// becomes a copy of folder `from`'s: what `to` held there is removed first,
// `to` is made when missing. A power cycle from a kept start. False with the
// reason.
bool copy_unit_state(const std::string& from, const std::string& to, std::string& why);

// Creates whichever of the six roots of the unit's file system are missing,
// under the platform layer's base folder.
void create_unit_roots();

}  // namespace norvane
