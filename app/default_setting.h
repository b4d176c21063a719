#pragma once
// "Default setting" of the Guard menu: the defaults that protect commands start from,
// edited in the settings dialog and kept in ProgramFolder() + "VellumDef.dat".
class QWidget;

// Shows the settings dialog on the stored defaults (the built-in ones when the file is
// missing or not a defaults file) and stores what the user accepts, with the digest of
// the password typed. A file that cannot be written is reported in a box owned by owner.
void EditDefaultSettings(QWidget* owner);
