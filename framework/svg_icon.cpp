#include "framework/svg_icon.h"

#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <memory>

namespace {
// Renders the picture afresh for each requested size, so small toolbar icons and large
// status images stay sharp.
class CSvgIconEngine : public QIconEngine {
 public:
  explicit CSvgIconEngine(const QString& path)
      : m_path(path), m_renderer(std::make_shared<QSvgRenderer>(path)) {}
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    if (!m_renderer->isValid()) return;
    painter->save();
    if (mode == QIcon::Disabled) painter->setOpacity(0.4);
    m_renderer->render(painter, rect);
    painter->restore();
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    paint(&p, QRect(QPoint(0, 0), size), mode, state);
    return pm;
  }
  QIconEngine* clone() const override { return new CSvgIconEngine(*this); }
  bool isNull() override { return !m_renderer->isValid(); }

 private:
  QString m_path;
  std::shared_ptr<QSvgRenderer> m_renderer;
};
}  // namespace

QIcon LoadSvgIcon(const QString& path) {
  return QIcon(new CSvgIconEngine(path));
}
