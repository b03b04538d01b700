// The index file's part of the verifier: reads an index file without the
// engine's caches and lists every broken promise of its trees: key order
// within leaves and across siblings, sibling links both ways, inner counts
// equal to the keys below, each child's first key equal to its parent
// entry, page types, free lists apart from the trees, every page reached at
// most once, and the live count.
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
