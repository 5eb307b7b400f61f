#pragma once

#include <QWidget>

// The control of a window that carries the given id.
template <typename T>
T* byId(QWidget& window, int id) {
    for (T* w : window.findChildren<T*>()) {
        if (w->property("controlId").toInt() == id) {
            return w;
        }
    }
    return nullptr;
}
