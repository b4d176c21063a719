#pragma once
// The order of the file list's rows: a ".." row fixed on top, then the folders by full
// path, then the files by the column's key, without regard to case. Texts are folded once
// per row, and columns with few distinct values are ranked once per value, so the sort
// itself compares plain strings and integers.
#include <vector>

#include "explorer/file_listing.h"

// The key a column sorts files by: 0 name, 1 size, 2 type text, 3 time, 4 attribute
// letters; other columns sort by name.
enum class SortKey { Name, Size, Type, Time, Attributes };
SortKey SortKeyOfColumn(int column);

// Orders table: a ".." row in row 0 stays there, then all folders ordered by full path,
// then all files ordered by the column's key, both in the given direction. Names, paths
// and type texts compare without regard to case. Type texts are compared as they are in
// the entries (the caller fetches them first). When order is given it receives, for every
// new row, the row it came from.
void SortEntries(FileEntryTable& table, int column, bool ascending,
                 std::vector<int>* order = nullptr);
