#pragma once

#include <QIcon>
#include <QPixmap>

namespace bramvell {

// The five tray pictures (TrayImage order), drawn in code at 16 and 32 pixels: a blue cross, a red
// cross, and a magnifying glass, an envelope and a smiling face over the red cross.
QPixmap DrawTrayImage(int image, int size);
QIcon TrayImageIcon(int image);

}  // namespace bramvell
