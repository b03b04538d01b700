// The index file's part of the verify routine for tests: reads an index
// file from disk and lists every broken promise of its trees (key order,
// sibling links, inner counts, page types, free lists, the live count).
#pragma once

#include <string>
#include <vector>

namespace jw {
class TDataFile;
}

namespace jw::test {

// Problems found in the index file at path, one line each; empty when
// sound. The open data file gives fields, locale and encryption. With
// check_live_count every index must hold exactly the header's live count.
std::vector<std::string> VerifyIndexFile(const std::string& path, const TDataFile& data,
                                         bool check_live_count = true);

}  // namespace jw::test
