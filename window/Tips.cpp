#include "Tips.h"

#include <QFile>
#include <QWidget>

#include "platform/MessageBoxNotifier.h"

void initProgramResources() {
    Q_INIT_RESOURCE(vxconf);
}

const HintTable& programHints() {
    static const HintTable table = [] {
        initProgramResources();
        QFile file(":/hints.txt");
        if (!file.open(QIODevice::ReadOnly)) {
            return HintTable();
        }
        return HintTable::parse(file.readAll().toStdString());
    }();
    return table;
}

void applyTips(QWidget& root, bool showHints) {
    const HintTable& hints = programHints();
    for (QWidget* w : root.findChildren<QWidget*>()) {
        // A dialog open over root is a window of its own, with its own ids and its own tips.
        if (w->window() != root.window()) {
            continue;
        }
        const QVariant id = w->property("controlId");
        if (id.isValid()) {
            w->setToolTip(toQt(tipFor(hints, id.toInt(), showHints)));
            // A screen reader reads the hint as the control's description, whether or not
            // hints are shown: Show Hints changes only what is seen.
            if (w->accessibleDescription().isEmpty()) {
                w->setAccessibleDescription(toQt(tipFor(hints, id.toInt(), true)));
            }
        }
    }
}
