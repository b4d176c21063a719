#include "explorer/tree_form_view.h"

#include <QDesktopServices>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kBarInnerWidth = 50;
constexpr int kBarFrameWidth = 56;  // inner width and a 3-pixel border on each side
constexpr int kBarBorder = 3;
constexpr int kBarMaxHeight = 16;
constexpr int kBarGap = 3;  // between the placeholder's text and the frame

}  // namespace

int BusyBarFillWidth(int64_t total, int64_t done) {
  done = std::max<int64_t>(done, 0);
  if (total > 0) {
    if (done >= total) return kBarInnerWidth;
    return static_cast<int>(done * kBarInnerWidth / total);
  }
  // 50 * (1 + 0.2 d - ln(e^(0.4 d) + e^2 - 1) / 2), rearranged to
  // 50 * (1 - ln(1 + (e^2 - 1) e^(-0.4 d)) / 2) so that large counts neither overflow the
  // exponential nor round up to a full bar.
  const double d = static_cast<double>(done);
  const double share = 1.0 - 0.5 * std::log1p((std::exp(2.0) - 1.0) * std::exp(-0.4 * d));
  const double width = std::floor(kBarInnerWidth * share);
  return static_cast<int>(std::clamp(width, 0.0, static_cast<double>(kBarInnerWidth - 1)));
}

CPaneTreeCtrl::CPaneTreeCtrl(QWidget* parent) : ShellTreeCtrl(parent) {
  SetShowBusyIndicator(true);
}

int CPaneTreeCtrl::BusyFillWidth(const QTreeWidgetItem* placeholder) const {
  return m_fillWidths.value(placeholder, -1);
}

QRect CPaneTreeCtrl::PlaceholderTextRect(const QTreeWidgetItem* placeholder) const {
  const QRect cell = visualItemRect(placeholder);
  if (cell.isEmpty()) return {};
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = cell;
  option.text = placeholder->text(0);
  option.features |= QStyleOptionViewItem::HasDisplay;
  const QIcon icon = placeholder->icon(0);
  if (!icon.isNull()) {
    option.features |= QStyleOptionViewItem::HasDecoration;
    option.icon = icon;
  }
  const QRect text = style()->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  const int width = option.fontMetrics.horizontalAdvance(option.text) + 2 * margin;
  return QRect(text.left(), cell.top(), width, cell.height());
}

QRect CPaneTreeCtrl::BusyFrameRect(const QTreeWidgetItem* placeholder) const {
  if (!m_fillWidths.contains(placeholder)) return {};
  const QRect text = PlaceholderTextRect(placeholder);
  if (text.isEmpty()) return {};
  // At most 16 pixels high, centred on the line, starting 3 pixels after the text.
  const int d = std::max(0, (text.height() - kBarMaxHeight) / 2);
  return QRect(text.left() + text.width() + kBarGap, text.top() + d, kBarFrameWidth,
               text.height() - 2 * d);
}

QRect CPaneTreeCtrl::BusyFillRect(const QTreeWidgetItem* placeholder) const {
  const QRect frame = BusyFrameRect(placeholder);
  if (frame.isEmpty()) return {};
  return QRect(frame.left() + kBarBorder, frame.top() + kBarBorder,
               std::max(0, BusyFillWidth(placeholder)), frame.height() - 2 * kBarBorder);
}

void CPaneTreeCtrl::PrepareBusyIndicator(QTreeWidgetItem* placeholder) {
  m_fillWidths.insert(placeholder, 0);
}

void CPaneTreeCtrl::DrawBusyIndicator(QTreeWidgetItem* placeholder, bool tick, int64_t total,
                                      int64_t done) {
  if (tick) return;  // the bar moves with progress only
  auto it = m_fillWidths.find(placeholder);
  if (it == m_fillWidths.end()) return;
  it.value() = BusyBarFillWidth(total, done);
  const QRect frame = BusyFrameRect(placeholder);
  if (!frame.isEmpty()) viewport()->update(frame);
}

void CPaneTreeCtrl::EndBusyIndicator(QTreeWidgetItem* placeholder) {
  // The placeholder may be on its way out: only its address is used here. The next repaint
  // covers the bar.
  m_fillWidths.remove(placeholder);
}

void CPaneTreeCtrl::paintEvent(QPaintEvent* event) {
  ShellTreeCtrl::paintEvent(event);
  if (m_fillWidths.isEmpty()) return;
  QPainter painter(viewport());
  for (auto it = m_fillWidths.cbegin(); it != m_fillWidths.cend(); ++it) {
    const QRect frame = BusyFrameRect(it.key());
    if (frame.isEmpty() || !event->rect().intersects(frame)) continue;
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    const QRect fill = BusyFillRect(it.key());
    if (fill.width() > 0) painter.fillRect(fill, QColor(255, 0, 0));
  }
}

CTreeFormView::CTreeFormView(INavigator* navigator, QWidget* parent)
    : QWidget(parent), m_navigator(navigator), m_tree(new CPaneTreeCtrl(this)) {
  // The tree always fills the pane.
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(m_tree);
  setFocusProxy(m_tree);
  m_opener = [](const QUrl& folder) { return QDesktopServices::openUrl(folder); };
  connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &CTreeFormView::OnTreeSelectionChanged);
  connect(m_tree, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item, int) { OnTreeDoubleClicked(item); });
  OnInitialUpdate();
}

CTreeFormView::~CTreeFormView() = default;

void CTreeFormView::OnInitialUpdate() {
  if (m_initialized) return;
  m_tree->setWindowTitle(QStringLiteral("Vellumguard"));
  m_tree->SetRoot({}, false);  // the standard top level, folders only
  m_initialized = true;
}

void CTreeFormView::SelectFolder(const QString& path) {
  m_tree->SelectPathQuietly(path);
}

QString CTreeFormView::SelectedFolder() const {
  const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
  return selected.isEmpty() ? QString() : m_tree->PathOf(selected.front());
}

bool CTreeFormView::IsReportable(const QString& path) {
  // Items without a file-system path (the computer) and network paths are not reported.
  return !path.isEmpty() && !path.startsWith(QStringLiteral("//"));
}

void CTreeFormView::OnTreeSelectionChanged() {
  if (!m_tree->IsQuietSelection()) {
    const QString path = SelectedFolder();
    if (IsReportable(path) && m_navigator) m_navigator->NavigateTo(path, NAV_TREE);
  }
  emit SelectionChanged();
}

void CTreeFormView::OnTreeDoubleClicked(QTreeWidgetItem* item) {
  // The tree's own double-click handling (expand or collapse) happens as well.
  const QString path = m_tree->PathOf(item);
  if (IsReportable(path) && m_opener) m_opener(QUrl::fromLocalFile(path));
}

bool CTreeFormView::OnCommand(int) {
  return false;
}

bool CTreeFormView::OnUpdateCommand(int, CommandUpdate&) {
  return false;
}
