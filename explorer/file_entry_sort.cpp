#include "explorer/file_entry_sort.h"

#include <QHash>
#include <algorithm>
#include <numeric>

SortKey SortKeyOfColumn(int column) {
  switch (column) {
    case 1:
      return SortKey::Size;
    case 2:
      return SortKey::Type;
    case 3:
      return SortKey::Time;
    case 4:
      return SortKey::Attributes;
    default:
      return SortKey::Name;
  }
}

namespace {

// The text that orders like a comparison without regard to case: every character replaced
// by its simple case folding. Computed once per row, so the sort itself compares plain
// strings.
QString FoldedKey(const QString& text) {
  QString folded = text;
  QChar* p = folded.data();
  const qsizetype n = folded.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = p[i].unicode();
    if (c < 0x80) {
      if (c >= 'A' && c <= 'Z') p[i] = QChar(static_cast<char16_t>(c + 32));
    } else if (QChar::isHighSurrogate(c) && i + 1 < n && p[i + 1].isLowSurrogate()) {
      const char32_t folded32 = QChar::toCaseFolded(QChar::surrogateToUcs4(c, p[i + 1].unicode()));
      if (QChar::requiresSurrogates(folded32)) {
        p[i] = QChar(QChar::highSurrogate(folded32));
        p[i + 1] = QChar(QChar::lowSurrogate(folded32));
      }
      ++i;
    } else {
      p[i] = QChar(static_cast<char16_t>(QChar::toCaseFolded(static_cast<char32_t>(c))));
    }
  }
  return folded;
}

// Small integers that order rows like their texts: rows with equal raw values share a
// rank, and only the distinct values are turned into texts and sorted, so a column with few
// distinct values (types, attribute letters) costs one hash lookup per row.
template <typename Raw, typename RawOf, typename TextOf>
std::vector<int> RanksOf(size_t rowCount, const std::vector<int>& rows, RawOf rawOf,
                         TextOf textOf) {
  QHash<Raw, int> index;
  std::vector<Raw> distinct;
  std::vector<int> indexOfRow(rowCount, 0);
  for (int r : rows) {
    const Raw raw = rawOf(r);
    auto it = index.constFind(raw);
    if (it == index.constEnd()) {
      it = index.insert(raw, static_cast<int>(distinct.size()));
      distinct.push_back(raw);
    }
    indexOfRow[static_cast<size_t>(r)] = it.value();
  }
  std::vector<QString> texts;
  texts.reserve(distinct.size());
  for (const Raw& raw : distinct) texts.push_back(textOf(raw));
  std::vector<int> byText(distinct.size());
  std::iota(byText.begin(), byText.end(), 0);
  std::sort(byText.begin(), byText.end(), [&texts](int a, int b) {
    return texts[static_cast<size_t>(a)] < texts[static_cast<size_t>(b)];
  });
  std::vector<int> rankOfDistinct(distinct.size(), 0);
  int rank = 0;
  for (size_t i = 0; i < byText.size(); ++i) {
    if (i > 0 && texts[static_cast<size_t>(byText[i])] != texts[static_cast<size_t>(byText[i - 1])])
      ++rank;
    rankOfDistinct[static_cast<size_t>(byText[i])] = rank;
  }
  std::vector<int> ranks(rowCount, 0);
  for (int r : rows)
    ranks[static_cast<size_t>(r)] =
        rankOfDistinct[static_cast<size_t>(indexOfRow[static_cast<size_t>(r)])];
  return ranks;
}

}  // namespace

void SortEntries(FileEntryTable& table, int column, bool ascending, std::vector<int>* order) {
  const int n = static_cast<int>(table.size());
  std::vector<int> rows(static_cast<size_t>(n));
  std::iota(rows.begin(), rows.end(), 0);
  if (n >= 2) {
    const int start = table[0].IsParentRow() ? 1 : 0;
    const auto first = rows.begin() + start;
    const auto firstFile = std::stable_partition(
        first, rows.end(), [&table](int r) { return table[static_cast<size_t>(r)].IsFolder(); });
    const std::vector<int> folderRows(first, firstFile);
    const std::vector<int> fileRows(firstFile, rows.end());
    const auto at = [](auto& v, int r) -> auto& {
      return v[static_cast<size_t>(r)];
    };

    // Folders by full path, files by the column's key; both in the chosen direction.
    std::vector<QString> text(static_cast<size_t>(n));
    for (int r : folderRows) at(text, r) = FoldedKey(at(table, r).fullPath);
    std::stable_sort(first, firstFile, [&](int a, int b) {
      return ascending ? at(text, a) < at(text, b) : at(text, b) < at(text, a);
    });

    const SortKey key = SortKeyOfColumn(column);
    auto sortFiles = [&](auto less) {
      std::stable_sort(firstFile, rows.end(),
                       [&](int a, int b) { return ascending ? less(a, b) : less(b, a); });
    };
    switch (key) {
      case SortKey::Size:
        sortFiles([&](int a, int b) { return at(table, a).size < at(table, b).size; });
        break;
      case SortKey::Time:
        sortFiles([&](int a, int b) { return at(table, a).lastWrite < at(table, b).lastWrite; });
        break;
      case SortKey::Type: {
        const std::vector<int> ranks = RanksOf<QString>(
            table.size(), fileRows, [&](int r) { return at(table, r).typeText; }, FoldedKey);
        sortFiles([&](int a, int b) { return at(ranks, a) < at(ranks, b); });
        break;
      }
      case SortKey::Attributes: {
        const std::vector<int> ranks = RanksOf<quint32>(
            table.size(), fileRows, [&](int r) { return at(table, r).attributes; },
            AttributeLetters);
        sortFiles([&](int a, int b) { return at(ranks, a) < at(ranks, b); });
        break;
      }
      case SortKey::Name:
        for (int r : fileRows) at(text, r) = FoldedKey(at(table, r).name);
        sortFiles([&](int a, int b) { return at(text, a) < at(text, b); });
        break;
    }
    FileEntryTable sorted;
    sorted.reserve(table.size());
    for (int r : rows) sorted.push_back(std::move(table[static_cast<size_t>(r)]));
    table.swap(sorted);
  }
  if (order) *order = std::move(rows);
}
