#pragma once
// The scripted user for the panes, which make a user per command: every one made is a
// Forwarder() of the one fake the test holds. Qt Test programs are not GoogleTest ones,
// so an unscripted prompt only cancels there.
#include <memory>

#include "fake_guard_ui.h"
#include "guard/ui/guard_ui_factory.h"

inline std::shared_ptr<FakeGuardUi> MakeScriptedUi() {
  auto ui = std::make_shared<FakeGuardUi>();
  ui->strictPrompts = false;
  return ui;
}

inline GuardUiFactory ScriptedFactory(const std::shared_ptr<FakeGuardUi>& ui) {
  return [ui](QWidget*) -> std::unique_ptr<IGuardUi> { return ui->Forwarder(); };
}
