#pragma once

#include "editor/Hints.h"

class QWidget;

// The program's hint table, read once from the resources.
const HintTable& programHints();

// Sets the tool tip of every control under root that carries a controlId with a hint, and
// clears every tip when hints are off.
void applyTips(QWidget& root, bool showHints);
