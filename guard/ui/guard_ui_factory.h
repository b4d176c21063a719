#pragma once
// How a pane reaches the window's dialogs and progress window for its guard operations:
// the frame hands every pane a factory, and the pane asks it for an IGuardUi owned by the
// pane's window whenever an operation starts. Tests hand in a scripted one.
#include <functional>
#include <memory>

#include "guard/guard_ui.h"

class QWidget;

using GuardUiFactory = std::function<std::unique_ptr<IGuardUi>(QWidget* owner)>;
