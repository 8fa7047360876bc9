// Catalog and RetrieveComment.
#include "archive/errors.h"
#include "engine/catalog_run.h"
#include "engine/metadata.h"
#include "engine/operation_frame.h"
#include "engine/read_set.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"

namespace vx {

namespace {

// Only the common codes and the FTP error: a wrong medium or an abort is 99
// and stays inside, as does anything else.
constexpr int kCatalogCodes[] = {EVX_FTPError::kCode};
constexpr int kCommentCodes[] = {EVX_FileWriteError::kCode, EVX_UserAbortion::kCode,
                                 EVX_WrongMedium::kCode, EVX_FTPError::kCode};

}  // namespace

int TCatalogRun::Catalog() {
  CheckReadSettings(engine_, {.noPlace = engine_txt::kCatalogNoSource,
                              .extension = engine_txt::kCatalogExtension});
  // Whatever fails below, nothing of an earlier archive stays in the list.
  engine_.fileList_.clear();
  TOperationFrame frame(engine_, {kCatalogCodes, TForeignPolicy::Keep});
  const int result = frame.Run([this] {
    TReadSet set(engine_);
    set.Open({engine_txt::kCatalogCutHeader, engine_txt::kCatalogForeign});
    set.ReadDirectory(engine_.fileList_);
    set.Close();
    // The metadata table is the set's, not a file of the user's.
    if (!engine_.CatalogAll) std::erase_if(engine_.fileList_, IsMetaTableRecord);
  });
  return frame.Finish(result);
}

int TCatalogRun::RetrieveComment(std::string& comment) {
  TOperationFrame frame(engine_, {kCommentCodes, TForeignPolicy::Keep});
  const int result = frame.Run([this, &comment] {
    CheckReadSettings(engine_, {.noPlace = engine_txt::kCommentNoPlace,
                                .noPassword = engine_txt::kCommentNoPassword,
                                .extension = engine_txt::kCommentExtension});
    TReadSet set(engine_);
    set.Open({engine_txt::kCommentCutHeader, engine_txt::kCommentForeign});
    set.Close();
    comment = set.Header().comment;
  });
  return frame.Finish(result);
}

}  // namespace vx
