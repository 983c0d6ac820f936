#pragma once
#include <QLabel>

namespace tovalin {

// The source information line: one line, shown whole where it fits, else
// with its middle elided and the whole line as tooltip. Its text (and what
// screen readers read) is always the whole line.
class InfoLabel : public QLabel {
    Q_OBJECT
public:
    explicit InfoLabel(QWidget *parent = nullptr) : QLabel(parent) {}
    bool isElided() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;
};

} // namespace tovalin
