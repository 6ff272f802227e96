#pragma once
// A frame with a caption in its top border, drawn the classic way: the
// border line runs through the middle of the caption, so the frame's own
// top is the top of the caption and the contents sit inside the line. A
// group box underneath, so that a screen reader announces the caption as
// the name of the group its values belong to.

#include <QGroupBox>

class ClassicFrame : public QGroupBox {
public:
    explicit ClassicFrame(const QString &title, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
