#pragma once
// Icons from the program's own SVG pictures, drawn by Qt's SVG renderer at every size
// the icon is asked for.
#include <QIcon>
#include <QString>

QIcon LoadSvgIcon(const QString& path);
