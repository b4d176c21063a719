#include "framework/recent_file_list.h"

#include "framework/app_profile.h"

namespace {
const QString kSection = QStringLiteral("Recent File List");
constexpr int kMenuTextLength = 60;
}  // namespace

CRecentFileList::CRecentFileList(int size) : m_size(size) {}

void CRecentFileList::Add(const QString& path) {
  if (path.isEmpty()) return;
  m_paths.removeAll(path);
  m_paths.prepend(path);
  while (m_paths.size() > m_size) m_paths.removeLast();
}

void CRecentFileList::Remove(int index) {
  if (index >= 0 && index < m_paths.size()) m_paths.removeAt(index);
}

QString CRecentFileList::MenuText(int index) const {
  QString path = At(index);
  if (path.size() > kMenuTextLength)
    path = path.left(12) + QStringLiteral("...") + path.right(kMenuTextLength - 15);
  // A literal "&" in a path must not become a mnemonic.
  path.replace(QLatin1Char('&'), QStringLiteral("&&"));
  const QString number =
      index + 1 < 10 ? QStringLiteral("&%1").arg(index + 1) : QStringLiteral("1&0");
  return number + QLatin1Char(' ') + path;
}

void CRecentFileList::ReadList() {
  m_paths.clear();
  auto profile = OpenAppProfile();
  profile->beginGroup(kSection);
  for (int i = 1; i <= m_size; ++i) {
    const QString path = profile->value(QStringLiteral("File%1").arg(i)).toString();
    if (!path.isEmpty() && !m_paths.contains(path)) m_paths.append(path);
  }
  profile->endGroup();
}

void CRecentFileList::WriteList() const {
  auto profile = OpenAppProfile();
  profile->beginGroup(kSection);
  profile->remove(QString());
  for (int i = 0; i < m_paths.size(); ++i)
    profile->setValue(QStringLiteral("File%1").arg(i + 1), m_paths.at(i));
  profile->endGroup();
  profile->sync();
}
