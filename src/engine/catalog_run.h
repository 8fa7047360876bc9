#pragma once
// Catalog and RetrieveComment: the small reading operations.
#include <string>

namespace vx {

class TVaultrex;

class TCatalogRun {
 public:
  explicit TCatalogRun(TVaultrex& engine) : engine_(engine) {}
  // Reads the set's directory into the engine's file list.  The two checks
  // of its settings reach the caller as exceptions.
  int Catalog();
  // Reads the set's header and gives its comment.
  int RetrieveComment(std::string& comment);

 private:
  TVaultrex& engine_;
};

}  // namespace vx
