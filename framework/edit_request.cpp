#include "framework/edit_request.h"

namespace {
ProtectedFileEditor& Editor() {
  static ProtectedFileEditor editor;
  return editor;
}
}  // namespace

bool CanEditProtectedFiles() {
  return static_cast<bool>(Editor());
}

bool EditProtectedFile(const QString& protectedPath) {
  return Editor() && Editor()(protectedPath);
}

void SetProtectedFileEditor(ProtectedFileEditor editor) {
  Editor() = std::move(editor);
}
