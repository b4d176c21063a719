#include "app/about_box.h"

#include <zlib.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

#include "framework/link_label.h"

#ifndef VG_CONTACT_EMAIL
#define VG_CONTACT_EMAIL ""
#endif
#ifndef VG_WEBSITE
#define VG_WEBSITE ""
#endif
#ifndef VG_DOC_DIR
#define VG_DOC_DIR "share/doc/vellumguard"
#endif

QString CAboutBox::ContactEmail() {
  return QString::fromUtf8(VG_CONTACT_EMAIL).trimmed();
}

QString CAboutBox::Website() {
  return QString::fromUtf8(VG_WEBSITE).trimmed();
}

QString CAboutBox::DocumentationFile(const QString& name) {
  // An installed program finds PREFIX/share/doc/vellumguard from PREFIX/bin; a build
  // folder holds the same folder with links into the source tree, a level or two above
  // its programs. Only the relative documentation folder is built in, never a path of
  // the machine that built it.
  const QString docDir = QString::fromUtf8(VG_DOC_DIR);
  QStringList candidates = {QCoreApplication::applicationDirPath() + QLatin1Char('/') + name};
  if (QDir::isAbsolutePath(docDir)) {
    candidates << docDir + QLatin1Char('/') + name;
  } else {
    QDir dir(QCoreApplication::applicationDirPath());
    for (int up = 0; up < 3 && dir.cdUp(); ++up)
      candidates << dir.filePath(docDir + QLatin1Char('/') + name);
  }
  for (const QString& c : candidates) {
    const QFileInfo info(c);
    if (info.isFile()) return QDir::cleanPath(info.absoluteFilePath());
  }
  return QString();
}

QString CAboutBox::WebsiteTarget() {
  if (!Website().isEmpty()) return Website();
  return DocumentationFile(QStringLiteral("README.md"));
}

std::string CAboutBox::DefaultAboutText() {
  std::string text =
      "Vellumguard protects files and folders with a password. Protecting a file compresses "
      "it with deflate and encrypts it with AES-256 in CBC mode into a file named as the "
      "original followed by \".~de\"; only then is the original overwritten and deleted. "
      "Restoring reverses this.\n"
      "\n"
      "Known limits of the protection:\n"
      "- The key is one SHA-256 digest of a fixed salt and the password, without key "
      "stretching, and two check bytes let a guess be tested quickly: a short or common "
      "password can be found by trying. Choose a long one. A forgotten password cannot be "
      "recovered.\n"
      "- Nothing authenticates the contents: a changed protected file is noticed only when "
      "it no longer decompresses or its checksum fails.\n"
      "- The last bytes of every file (at most 15) are not encrypted with the key.\n"
      "- File and folder names and approximate sizes stay visible.\n"
      "- Settings files (zde.tmp, VellumDef.dat) and guard lists (.dlt) are encrypted under "
      "a fixed, published password. One that stores a password stores the key itself, "
      "which restores the protected files without the password: keep such files where "
      "only you can read them.\n"
      "- Overwriting a file before deleting it does not reach copies kept elsewhere by the "
      "file system, a solid-state disk, snapshots or backups.\n"
      "The file formats are described in ";
  const QString format = DocumentationFile(QStringLiteral("FORMAT.md"));
  text += format.isEmpty() ? std::string("docs/FORMAT.md") : format.toStdString();
  text +=
      ".\n"
      "\n"
      "This program is provided as is, without any warranty.\n"
      "\n"
      "Compression: zlib ";
  text += zlibVersion();
  text +=
      ", Copyright (C) 1995-2022 Jean-loup Gailly and Mark Adler. This software is provided "
      "'as-is', without any express or implied warranty. In no event will the authors be held "
      "liable for any damages arising from the use of this software. Permission is granted "
      "to anyone to use this software for any purpose, including commercial applications, "
      "and to alter it and redistribute it freely, subject to the following restrictions: "
      "1. The origin of this software must not be misrepresented; you must not claim that "
      "you wrote the original software. If you use this software in a product, an "
      "acknowledgment in the product documentation would be appreciated but is not "
      "required. 2. Altered source versions must be plainly marked as such, and must not be "
      "misrepresented as being the original software. 3. This notice may not be removed or "
      "altered from any source distribution.\n"
      "\n"
      "User interface: Qt ";
  text += qVersion();
  text +=
      ", Copyright (C) The Qt Company Ltd. and other contributors, used under the GNU Lesser "
      "General Public License version 3. Qt is a trademark of The Qt Company Ltd.\n"
      "\n"
      "The cipher, digest and random number code is Vellumguard's own.\n";
  return text;
}

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Vellumguard"));
  m_aboutText = DefaultAboutText();

  auto* icon = new QLabel(this);
  QIcon programIcon = QApplication::windowIcon();
  if (programIcon.isNull()) programIcon = style()->standardIcon(QStyle::SP_MessageBoxInformation);
  icon->setPixmap(programIcon.pixmap(32, 32));
  icon->setAlignment(Qt::AlignTop);

  // One version for the about box, --version and the package: the build's own.
  auto* versionLine =
      new QLabel(QStringLiteral("Vellumguard version %1").arg(QStringLiteral(VG_VERSION)), this);
  versionLine->setObjectName(QStringLiteral("versionLine"));
  auto* secondLine = new QLabel(
      QStringLiteral("File protection for the Linux desktop: deflate and AES-256"), this);
  auto* ok = new QPushButton(QStringLiteral("Ok"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  m_aboutEdit = new QPlainTextEdit(this);
  m_aboutEdit->setObjectName(QStringLiteral("aboutEdit"));
  m_aboutEdit->setReadOnly(true);
  m_aboutEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  m_emailLabel = new QLabel(QStringLiteral("E-mail:"), this);
  m_emailLink = new CLinkLabel(this);
  m_emailLink->setObjectName(QStringLiteral("emailLink"));
  auto* websiteLabel = new QLabel(QStringLiteral("Website:"), this);
  m_websiteLink = new CLinkLabel(this);
  m_websiteLink->setObjectName(QStringLiteral("websiteLink"));

  // Initialisation of the links: targets and the hand cursor.
  const QString email = ContactEmail();
  if (email.isEmpty()) {
    m_emailLabel->setEnabled(false);
    m_emailLink->setEnabled(false);
  } else {
    m_emailLink->setText(email);
    m_emailLink->SetTarget(QStringLiteral("mailto:") + email);
  }
  m_emailLink->SetLinkCursor(nullptr);
  const QString site = WebsiteTarget();
  m_websiteLink->setText(Website().isEmpty() ? QStringLiteral("README") : site);
  m_websiteLink->SetTarget(site);
  // Without a website and without the documentation there is nothing to open.
  if (site.isEmpty()) m_websiteLink->setEnabled(false);
  m_websiteLink->SetLinkCursor(nullptr);

  auto* head = new QHBoxLayout;
  auto* lines = new QVBoxLayout;
  lines->addWidget(versionLine);
  lines->addWidget(secondLine);
  head->addWidget(icon);
  head->addLayout(lines, 1);
  head->addWidget(ok, 0, Qt::AlignTop);
  auto* links = new QHBoxLayout;
  links->addWidget(m_emailLabel);
  links->addWidget(m_emailLink);
  links->addSpacing(fontMetrics().averageCharWidth() * 4);
  links->addWidget(websiteLabel);
  links->addWidget(m_websiteLink);
  links->addStretch(1);
  auto* top = new QVBoxLayout(this);
  top->addLayout(head);
  top->addWidget(m_aboutEdit, 1);
  top->addLayout(links);
  // The template's proportions: 304 x 241 dialog units.
  const int unit = fontMetrics().averageCharWidth();
  resize(unit * 76, fontMetrics().height() * 30);
}

void CAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) m_aboutEdit->setPlainText(QString::fromUtf8(m_aboutText));
}
