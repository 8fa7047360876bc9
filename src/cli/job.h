#pragma once
// `vaultix-cli <op> --job FILE.sqt`: runs a job saved by the desktop program
// with the same settings its status window gives the engine.
#include <string>

#include "cli/options.h"
#include "engine/vaultrex.h"

namespace vx {

// Fills engine from the job file for the operation: a backup runs the job's
// backup page exactly as the status window does; restore, verify, catalog
// and comment read the set the job writes (its folder, its base name with
// ".001", its tape box, and its password when the job encrypts).  A log is
// kept when the job asks for one, in the desktop program's log folder, unless
// --log or --no-log say otherwise.  Throws std::runtime_error with the job
// file's own message when it cannot be loaded, ECliSetting (configure.h)
// when a setting cannot be used.  Returns warnings meant for stderr (empty
// when none).
std::string ConfigureFromJob(TVaultrex& engine, const TCliOptions& options);

}  // namespace vx
