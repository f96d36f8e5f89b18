#pragma once
// Answers the window's modal dialogs in tests on the offscreen platform.

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

namespace orvix::test {

// Runs fn on the next modal dialog of type T once it is shown; fails the test, and stops
// looking, when none is shown within 10 s (a later test's dialog is never taken for it).
template <class T, class Fn>
void onNextDialog(Fn fn) {
    auto* timer = new QTimer(qApp);
    QElapsedTimer waited;
    waited.start();
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, fn, waited] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!dialog && waited.elapsed() < 10000) return;
        timer->stop();
        timer->deleteLater();
        if (dialog) fn(dialog);
        else QTest::qFail("the expected dialog was not shown within 10 s", __FILE__, __LINE__);
    });
    timer->start(20);
}

}  // namespace orvix::test
