#pragma once
// The nine parameter boxes as a view of the controller's model. What a box
// shows, its colour and its tooltip are drawn from the model and from what
// the operator is typing, never read back from the box.
//
// The operator's text is a layer of its own: while a box's text differs from
// what the view last put there, a reply never changes it; the tooltip says
// what the controller holds, and Esc, or leaving the box unchanged, shows it.
//
// White: edited, or awaiting the controller; green: shows what the
// controller's memory holds; orange: written and echoed, but the memory
// keeps another value; violet: the controller refused the write (an
// exception); light red: not written (no number, queue full, cancelled);
// yellow: a comparison found the file holding another value.

#include "controller_model.h"

#include <QObject>
#include <QPointer>
#include <QRgb>
#include <QString>

#include <array>
#include <optional>

class QLineEdit;

constexpr QRgb colour_white = 0xFFFFFF;
constexpr QRgb colour_green = 0x00FF00;
constexpr QRgb colour_refused = 0xFFB4B4;
constexpr QRgb colour_not_taken = 0xFFC864;
constexpr QRgb colour_exception = 0xDCB4FF;
constexpr QRgb colour_differs = 0xFFFF80;

class ParBoxes : public QObject {
    Q_OBJECT

public:
    explicit ParBoxes(const std::array<QLineEdit *, par_count> &boxes, QObject *parent = nullptr);

    // The model of the controller the window talks to; null for none.
    void bind(ControllerModel *model);

    // The box's text changed, typed or set: its colour follows.
    void text_changed(int i);
    // The text went to the controller as it stands: no longer an edit.
    void committed(int i);
    // What the box holds was not written; said until its text changes. The
    // text stays the operator's to send again.
    void refuse(int i, const QString &why);
    // A text that is not the controller's, with a word on where it is from.
    void put(int i, const QString &text, const QString &why);
    // Esc: what the controller holds, in place of the edit.
    void revert(int i);

    bool edited(int i) const;
    QList<int> edited_boxes() const;
    QString text(int i) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Layer {
        std::optional<QString> shown; // what the view last put in the box; none: an edit
        QString note;
        QRgb note_colour = colour_white;
    };

    // take_text: a box that is not being edited shows what the model holds.
    void draw(int i, bool take_text);
    void draw_all();
    void set_text(int i, const QString &text);

    std::array<QLineEdit *, par_count> m_boxes;
    std::array<Layer, par_count> m_layers{};
    QPointer<ControllerModel> m_model;
    bool m_setting = false;
};

void set_colour(QLineEdit *box, QRgb colour);
