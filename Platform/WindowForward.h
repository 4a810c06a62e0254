#pragma once
// Bringing a top-level window forward when the user asks for it (a double click in a list,
// a button): shown, raised and active. A minimised window comes back at its normal size,
// even when it was maximised before it was minimised.

class QWidget;

void BringWindowForward(QWidget* window);
