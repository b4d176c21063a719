#pragma once
// What a protect of a folder without its subfolders leaves behind, so that the run's
// account can say so instead of passing over it in silence.
#include <cstddef>

class CGuardItem;

// Plain files in the subfolders of a folder item (not in the folder itself) that the
// item's include and exclude masks would take if its subfolders were protected too.
// 0 for a file item and for an item that takes its subfolders already.
size_t CountUnprotectedBelow(const CGuardItem& folder);
