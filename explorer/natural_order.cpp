#include "explorer/natural_order.h"

#include <algorithm>

namespace {

int FoldUnit(char16_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  return QChar::toCaseFolded(static_cast<char32_t>(c));
}

bool IsAsciiDigit(QChar c) {
  return c.unicode() >= '0' && c.unicode() <= '9';
}

}  // namespace

QString NaturalSortKey(QStringView name) {
  // Case folded; every run of digits becomes '0', its count of significant digits, and those
  // digits. A run then compares with another run by value, and with any other character
  // like a digit does, since no other character lies between '0' and '9'.
  QString key;
  key.reserve(name.size() + 4);
  qsizetype i = 0;
  while (i < name.size()) {
    if (IsAsciiDigit(name[i])) {
      while (i < name.size() && name[i] == u'0') ++i;
      const qsizetype start = i;
      while (i < name.size() && IsAsciiDigit(name[i])) ++i;
      key.append(u'0');
      key.append(QChar(static_cast<char16_t>(std::min<qsizetype>(i - start, 0xFFFF))));
      key.append(name.mid(start, i - start));
      continue;
    }
    key.append(QChar(static_cast<char16_t>(FoldUnit(name[i].unicode()))));
    ++i;
  }
  return key;
}

int CompareNaturally(QStringView a, QStringView b) {
  int order = NaturalSortKey(a).compare(NaturalSortKey(b));
  // Equal but for case or leading zeros: a fixed order all the same.
  if (order == 0) order = a.compare(b);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}
