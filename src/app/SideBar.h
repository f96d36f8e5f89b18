#pragma once
// The first column: "Disease Options" and its one row, "Pneumonia", which selects option 0.

#include <QWidget>

#include "orvix/State.h"

class QListWidget;

namespace orvix::app {

class sideBar : public QWidget {
    Q_OBJECT
public:
    sideBar(Binding<std::int64_t> option, QWidget* parent = nullptr);
    QListWidget* list() const { return list_; }

private:
    Binding<std::int64_t> option_;
    QListWidget* list_;
};

}  // namespace orvix::app
