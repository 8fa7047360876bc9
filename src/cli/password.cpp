#include "cli/password.h"

#include "cli/signals.h"
#include "cli/texts.h"

namespace vx {
namespace {

bool AskOnce(TCliEnvironment& env, const char* prompt, std::string& secret) {
  env.err << std::flush;
  return env.readSecret(prompt, secret);
}

bool Reads(const TCliOptions& o) {
  return o.operation == TCliOperation::Restore || o.operation == TCliOperation::Verify;
}

}  // namespace

int AskPassword(TVaultrex& engine, const TCliOptions& o, TCliEnvironment& env) {
  if (!env.interactive || !env.readSecret || !engine.EncryptKey.empty()) return 0;
  const auto stopped = [&env] {
    env.err << "\n";
    if (CancelRequested()) return 12;
    env.err << "vaultix-cli: no password was given\n" << std::flush;
    return 1;
  };
  if (o.operation == TCliOperation::Backup && engine.EncryptData) {
    std::string first;
    std::string second;
    if (!AskOnce(env, txt::cli::kPasswordPrompt, first)) return stopped();
    if (!AskOnce(env, txt::cli::kPasswordAgain, second)) return stopped();
    if (first != second) {
      env.err << "vaultix-cli: the two passwords differ; nothing was backed up\n" << std::flush;
      return 1;
    }
    engine.EncryptKey = first;
    return 0;
  }
  if (!Reads(o)) return 0;
  if (engine.EncryptData) {
    std::string key;
    if (!AskOnce(env, txt::cli::kPasswordPrompt, key)) return stopped();
    engine.EncryptKey = key;
    return 0;
  }
  // Whether the set is encrypted shows when it opens.
  engine.OnPasswordNeeded = [&env](std::string& key) {
    return AskOnce(env, txt::cli::kPasswordPrompt, key);
  };
  return 0;
}

std::string PasswordNote(int code, const TCliOptions& o, const TVaultrex& engine) {
  if (code != 14 || !Reads(o)) return "";
  if (engine.EncryptKey.empty()) {
    return "the set is encrypted: give its password (--password-file, --password-command, "
           "VAULTIX_PASSWORD_FILE or at the terminal)";
  }
  return std::string("wrong password: the set's data do not decode with it; nothing was ") +
         (o.operation == TCliOperation::Restore ? "restored" : "verified");
}

}  // namespace vx
