#pragma once
// The order of names in the folder tree: no regard to case, runs of digits by their value
// ("a2" < "a10"); names equal in that order go by their exact text.
#include <QString>
#include <QStringView>

// -1, 0 or 1 as a comes before, with or after b.
int CompareNaturally(QStringView a, QStringView b);
// A key whose plain comparison gives that order (before the tie on the exact text).
QString NaturalSortKey(QStringView name);
