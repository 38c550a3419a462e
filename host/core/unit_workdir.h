#pragma once
#include <string>

namespace norvane {

// Makes `dir` the unit's working folder: creates it if missing, points the
// platform layer at it and creates the six roots of the unit's file system.
// Returns false with the reason when the folder cannot be made.
bool prepare_unit_workdir(const std::string& dir, std::string& why);

// Creates whichever of the six roots of the unit's file system are missing,
// under the platform layer's base folder.
void create_unit_roots();

}  // namespace norvane
