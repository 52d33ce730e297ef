#pragma once
// What widget tests share: a way to answer a modal window once it is up, and
// finding shown windows and children.

#include "support/test_application.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>


// The visible top-level window of type T, or nullptr.
template <typename T>
T* ShownWindow()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* found = qobject_cast<T*>(window);
        if (found && found->isVisible())
            return found;
    }
    return nullptr;
}

// Calls act with the first visible T that turns up within a few seconds, from
// the event loop (so also from inside a modal window's own loop). The flag
// tells whether it did.
template <typename T>
std::shared_ptr<bool> WhenShown(std::function<void(T*)> act)
{
    auto done = std::make_shared<bool>(false);
    auto* timer = new QTimer(&Application());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act, done, deadline] {
        T* window = ShownWindow<T>();
        if (!window && std::chrono::steady_clock::now() < deadline)
            return;
        timer->stop();
        timer->deleteLater();
        if (window) {
            *done = true;
            act(window);
        }
    });
    timer->start(10);
    return done;
}

// The visible child of type T, or nullptr; closed editors linger hidden
// until the event loop deletes them.
template <typename T>
T* VisibleChild(QWidget* parent)
{
    for (T* child : parent->findChildren<T*>())
        if (child->isVisible())
            return child;
    return nullptr;
}
