#include "app/key_lock_indicators.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QStatusBar>

CKeyLockIndicators::CKeyLockIndicators(QStatusBar* bar) : QObject(bar) {
  auto make = [bar](const QString& sample) {
    auto* label = new QLabel(bar);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(sample) + 8);
    bar->addPermanentWidget(label);
    return label;
  };
  m_caps = make(QStringLiteral("CAP"));
  m_num = make(QStringLiteral("NUM"));
  m_scroll = make(QStringLiteral("SCRL"));
  qApp->installEventFilter(this);
  Refresh();
}

int CKeyLockIndicators::LedState(const QString& suffix) {
  const QDir leds(QStringLiteral("/sys/class/leds"));
  const QStringList names =
      leds.entryList({QStringLiteral("*::") + suffix}, QDir::Dirs | QDir::NoDotAndDotDot);
  int state = -1;
  for (const QString& name : names) {
    QFile file(leds.filePath(name + QStringLiteral("/brightness")));
    if (!file.open(QIODevice::ReadOnly)) continue;
    const int value = file.readAll().trimmed().toInt();
    state = qMax(state, value > 0 ? 1 : 0);
  }
  return state;
}

void CKeyLockIndicators::Refresh() {
  m_caps->setText(LedState(QStringLiteral("capslock")) == 1 ? QStringLiteral("CAP") : QString());
  m_num->setText(LedState(QStringLiteral("numlock")) == 1 ? QStringLiteral("NUM") : QString());
  m_scroll->setText(LedState(QStringLiteral("scrolllock")) == 1 ? QStringLiteral("SCRL")
                                                                : QString());
}

bool CKeyLockIndicators::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyRelease) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_CapsLock || key == Qt::Key_NumLock || key == Qt::Key_ScrollLock) Refresh();
  } else if (event->type() == QEvent::ApplicationActivate) {
    Refresh();
  }
  return QObject::eventFilter(watched, event);
}
