#pragma once

#include "editor/Hints.h"

class QWidget;

// The images and tables live in a static library, whose resources are only linked in when
// asked for: every window that uses them calls this first.
void initProgramResources();

// The program's hint table, read once from the resources.
const HintTable& programHints();

// Sets the tool tip of every control under root that carries a controlId with a hint, and
// clears every tip when hints are off. The hint is the control's accessible description
// either way.
void applyTips(QWidget& root, bool showHints);
