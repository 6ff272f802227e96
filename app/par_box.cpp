#include "par_box.h"

#include <QColor>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPalette>

namespace {

QString shown(int i, int32_t raw)
{
    return par_value_text(i, raw).trimmed();
}

struct Look {
    QRgb colour = colour_white;
    QString tip;
};

// What the model says of a box that is not being edited.
Look look_of(int i, const ParState &p, bool reading, const QString &text)
{
    switch (p.outcome) {
    case WriteOutcome::awaiting:
        return {colour_white, p.held_back ? QStringLiteral("Записано %1; запись ждёт, пока "
                                                           "контроллер не будет опознан")
                                                .arg(shown(i, p.written))
                                          : QStringLiteral("Записано %1, ожидается чтение "
                                                           "из контроллера")
                                                .arg(shown(i, p.written))};
    case WriteOutcome::refused:
        return {colour_exception,
                QStringLiteral("Контроллер отказал в записи %1: исключение, код %2")
                    .arg(shown(i, p.written))
                    .arg(p.exception_code)};
    case WriteOutcome::not_taken:
        return {colour_not_taken,
                QStringLiteral("записано %1, контроллер хранит %2")
                    .arg(shown(i, p.written), p.held ? shown(i, *p.held) : QStringLiteral("?"))};
    case WriteOutcome::cancelled:
        return {colour_refused, QStringLiteral("Запись отменена: ") + p.why};
    case WriteOutcome::no_answer:
        return {colour_white, QStringLiteral("Нет ответа на запись %1 за %2 с")
                                  .arg(shown(i, p.written))
                                  .arg(ControllerModel::answer_ms / 1000)};
    case WriteOutcome::none:
    case WriteOutcome::taken:
        break;
    }
    if (reading)
        return {colour_white, QStringLiteral("Чтение из контроллера…")};
    if (p.file_value)
        return {colour_differs, QStringLiteral("В файле: ") + shown(i, *p.file_value)};
    if (p.held && text == par_value_text(i, *p.held))
        return {colour_green, QString()};
    return {};
}

} // namespace

void set_colour(QLineEdit *box, QRgb colour)
{
    QPalette p = box->palette();
    p.setColor(QPalette::Base, QColor(colour));
    box->setPalette(p);
}

ParBoxes::ParBoxes(const std::array<QLineEdit *, par_count> &boxes, QObject *parent)
    : QObject(parent), m_boxes(boxes)
{
    for (int i = 0; i < par_count; ++i) {
        m_layers[size_t(i)].shown = m_boxes[size_t(i)]->text();
        m_boxes[size_t(i)]->installEventFilter(this);
    }
}

void ParBoxes::bind(ControllerModel *model)
{
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = model;
    if (model) {
        connect(model, &ControllerModel::parameter_changed, this, [this](int i) { draw(i, true); });
        connect(model, &ControllerModel::forgotten, this, &ParBoxes::draw_all);
    }
    draw_all();
}

void ParBoxes::draw_all()
{
    for (int i = 0; i < par_count; ++i)
        draw(i, true);
}

bool ParBoxes::edited(int i) const
{
    const Layer &l = m_layers[size_t(i)];
    return !l.shown || *l.shown != m_boxes[size_t(i)]->text();
}

QList<int> ParBoxes::edited_boxes() const
{
    QList<int> out;
    for (int i = 0; i < par_count; ++i) {
        if (edited(i))
            out << i;
    }
    return out;
}

QString ParBoxes::text(int i) const
{
    return m_boxes[size_t(i)]->text();
}

void ParBoxes::set_text(int i, const QString &text)
{
    m_layers[size_t(i)].shown = text;
    m_setting = true;
    m_boxes[size_t(i)]->setText(text);
    m_setting = false;
}

void ParBoxes::draw(int i, bool take_text)
{
    QLineEdit *box = m_boxes[size_t(i)];
    Layer &l = m_layers[size_t(i)];
    const ParState p = m_model ? m_model->par(i) : ParState{};
    const bool reading = m_model && m_model->reading(i);
    const bool takes = p.outcome == WriteOutcome::none || p.outcome == WriteOutcome::taken ||
                       p.outcome == WriteOutcome::not_taken;
    if (take_text && !edited(i) && p.held && takes && !reading)
        set_text(i, par_value_text(i, *p.held));

    Look look;
    if (!l.note.isEmpty()) {
        look = {l.note_colour, l.note};
    } else if (edited(i)) {
        if (p.held)
            look.tip =
                QStringLiteral("Контроллер хранит %1 (Esc — показать)").arg(shown(i, *p.held));
    } else {
        look = look_of(i, p, reading, box->text());
    }
    set_colour(box, look.colour);
    box->setToolTip(look.tip);
}

void ParBoxes::text_changed(int i)
{
    if (m_setting)
        return;
    m_layers[size_t(i)].note.clear();
    draw(i, false);
}

void ParBoxes::committed(int i)
{
    Layer &l = m_layers[size_t(i)];
    l.shown = m_boxes[size_t(i)]->text();
    l.note.clear();
    draw(i, true);
}

void ParBoxes::refuse(int i, const QString &why)
{
    Layer &l = m_layers[size_t(i)];
    l.shown.reset();
    l.note = why;
    l.note_colour = colour_refused;
    draw(i, false);
}

void ParBoxes::put(int i, const QString &text, const QString &why)
{
    Layer &l = m_layers[size_t(i)];
    m_setting = true;
    m_boxes[size_t(i)]->setText(text);
    m_setting = false;
    l.shown.reset();
    l.note = why;
    l.note_colour = colour_white;
    draw(i, false);
}

void ParBoxes::revert(int i)
{
    Layer &l = m_layers[size_t(i)];
    l.note.clear();
    const ParState p = m_model ? m_model->par(i) : ParState{};
    if (p.held)
        set_text(i, par_value_text(i, *p.held));
    else
        l.shown = m_boxes[size_t(i)]->text();
    draw(i, true);
}

bool ParBoxes::eventFilter(QObject *watched, QEvent *event)
{
    for (int i = 0; i < par_count; ++i) {
        if (watched != m_boxes[size_t(i)])
            continue;
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            revert(i);
            return true;
        }
        // Left unchanged: it shows what the controller holds now.
        if (event->type() == QEvent::FocusOut && !edited(i))
            draw(i, true);
    }
    return QObject::eventFilter(watched, event);
}
