// Our pointer component: KOR_FdtPointer rebuilds a table's index file from
// its data file. Called by the updater on its update thread, one call at a time.
#include <string>

#include "platform/export.h"
#include "tables/fdt_index_builder.h"

// Arguments 2, 5, 6 and 7 are reserved and passed as null by the updater.
// Results: 0 built, 1 structure not loadable, 2 data unreadable, 3 index not
// writable, 4 data damaged; on failure the index file is left as it was.
VEUPD_EXPORT int VEUPD_STDCALL KOR_FdtPointer(const char* structure, const void* /*reserved1*/,
                                              const char* data, const char* index,
                                              const void* /*reserved2*/, const void* /*reserved3*/,
                                              const void* /*reserved4*/) {
  using veupd::fdt::IndexResult;
  if (structure == nullptr || *structure == '\0') return static_cast<int>(IndexResult::kNoStructure);
  if (data == nullptr || *data == '\0') return static_cast<int>(IndexResult::kDataUnreadable);
  if (index == nullptr || *index == '\0') return static_cast<int>(IndexResult::kIndexUnwritable);
  try {
    return static_cast<int>(veupd::fdt::BuildIndex(structure, data, index));
  } catch (...) {
    // Nothing may cross the module boundary; running out of memory for the
    // keys is the only way here, and the index was not touched.
    return static_cast<int>(IndexResult::kIndexUnwritable);
  }
}
