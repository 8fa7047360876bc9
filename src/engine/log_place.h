#pragma once
// The log and the set are different files: a log written where the set is
// would destroy the set (or a volume of it) as it is written.
#include <string>

namespace vx {

class TVaultrex;

// Whether the engine's log file names its disk set or one of the set's
// volumes: the same file however reached, or, while they do not exist yet,
// the same name in the same folder.  Tape and FTP sets are no files here.
bool LogNamesTheSet(const TVaultrex& engine);

}  // namespace vx
