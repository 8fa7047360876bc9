// libFuzzer entry: any bytes as the metadata table of a set of 16 files.
// A table is refused or decoded; one decoded encodes to bytes that decode
// to the same table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/meta_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kRecords = 16;
  vx::TMetaTable table;
  std::string error;
  if (!vx::DecodeMetaTable(data, size, kRecords, table, error)) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  for (const vx::TMetaEntry& e : table.entries) {
    if (e.mode > 07777) std::abort();
    if ((e.kind == vx::TMetaKind::File || e.kind == vx::TMetaKind::HardLink) && e.index >= kRecords)
      std::abort();
  }
  const std::vector<std::uint8_t> again = vx::EncodeMetaTable(table);
  vx::TMetaTable back;
  if (!vx::DecodeMetaTable(again.data(), again.size(), kRecords, back, error) || !(back == table))
    std::abort();
  return 0;
}
