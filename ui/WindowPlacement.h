#pragma once

class QWidget;

namespace bramvell {

// Moves a top-level window so that it lies entirely inside the available area of its screen.
void MoveFullyOnScreen(QWidget* window);

}  // namespace bramvell
