#pragma once
// The window's commands: for every command identifier its menu text, its status prompt
// and tooltip, its shortcuts and its picture (the desktop theme's icon where it has one,
// else the program's own under :/app/icons/).
class CCommandRouter;

// Adds one action per window command to router.
void AddWindowCommands(CCommandRouter& router);
