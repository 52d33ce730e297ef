#pragma once
// The one Qt application of a test process, made on first use, and waiting
// for a condition while its event loop runs.

#include <QApplication>

#include <functional>

QApplication& Application();

// Processes events until condition holds; false when timeoutMs passed first.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
