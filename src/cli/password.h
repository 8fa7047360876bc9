#pragma once
// The password of a run asked at the terminal, when neither the set file nor
// an option gives one, and the line that explains a refused password.
#include <ostream>
#include <string>

#include "cli/commands.h"
#include "cli/options.h"
#include "engine/vaultrex.h"

namespace vx {

// With a person at the terminal and no password yet: a backup that encrypts
// asks twice (the two must agree), a restore or verify of a set known to be
// encrypted asks once, and one that finds out only when the set opens asks
// then (OnPasswordNeeded).  Returns 0, or the exit code after the message on
// env.err (1 the answers differ or none came, 12 a stop signal).
int AskPassword(TVaultrex& engine, const TCliOptions& options, TCliEnvironment& env);

// What to add after the text of code 14 for a restore or verify ("" when
// nothing): the password is missing, or the set's data do not decode with it.
std::string PasswordNote(int code, const TCliOptions& options, const TVaultrex& engine);

}  // namespace vx
