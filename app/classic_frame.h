#pragma once
// A frame with a caption in its top border, drawn the classic way: the
// border line runs through the middle of the caption, so the frame's own
// top is the top of the caption and the contents sit inside the line.

#include <QWidget>

class ClassicFrame : public QWidget {
public:
    explicit ClassicFrame(QString title, QWidget *parent = nullptr);

    QString title() const { return m_title; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_title;
};
