#include "explorer/file_op_ui.h"

#include <cstring>

#include "explorer/guard_file_op_ui.h"
#include "explorer/qt_file_op_ui.h"

std::unique_ptr<IFileOpUi> MakeFileOpUi(QWidget* owner, const GuardUiFactory& guardUi,
                                        const QString& progressTitle) {
  if (guardUi) {
    if (std::unique_ptr<IGuardUi> ui = guardUi(owner))
      return std::make_unique<CGuardFileOpUi>(std::move(ui), progressTitle);
  }
  return std::make_unique<CQtFileOpUi>(owner, progressTitle);
}

QString ErrorText(int err) {
  return QString::fromLocal8Bit(std::strerror(err));
}
