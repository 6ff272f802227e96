#pragma once
// A parameter box of the window as the conversions see it.

#include "convert.h"

#include <QColor>
#include <QLineEdit>
#include <QPalette>

class LineEditBox : public ParBox {
public:
    explicit LineEditBox(QLineEdit *edit = nullptr) : m_edit(edit) {}
    QString text() const override { return m_edit->text(); }
    // Runs the box's change handling, as typing does.
    void set_text(const QString &text) override { m_edit->setText(text); }
    void set_colour(QRgb colour) override
    {
        QPalette p = m_edit->palette();
        p.setColor(QPalette::Base, QColor(colour));
        m_edit->setPalette(p);
    }
    QLineEdit *edit() const { return m_edit; }

private:
    QLineEdit *m_edit;
};
