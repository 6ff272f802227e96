// Widgets of the main window at fixed positions. Positions are kept in twips
// (1/1440 inch) as designed and divided by 15 for pixels at 96 DPI; Qt scales
// the whole window on high-DPI screens.
#include "classic_frame.h"
#include "frm_main.h"
#include "program_look.h"
#include "registers.h"
#include "wrap_button.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

namespace {

QRect twips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

QLabel *label(QWidget *parent, const char *name, const QString &text, QRect where,
              Qt::Alignment align, double points = 0)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QString::fromUtf8(name));
    l->setGeometry(where);
    l->setAlignment(align | Qt::AlignTop);
    if (points > 0)
        l->setFont(ui_font(points));
    return l;
}

ClassicFrame *frame(QWidget *parent, const char *name, const QString &title, QRect where)
{
    auto *g = new ClassicFrame(title, parent);
    g->setObjectName(QString::fromUtf8(name));
    g->setGeometry(where);
    g->setFont(ui_font(13.5));
    return g;
}

// A live value is read aloud as its number; what it is, and in which
// group, follows as its description.
void describe_value(QLabel *value, const ClassicFrame *group, const QString &caption)
{
    value->setAccessibleDescription(caption + QStringLiteral(" — ") + group->title());
}

constexpr auto left = Qt::AlignLeft;
constexpr auto right = Qt::AlignRight;
constexpr auto centre = Qt::AlignHCenter;

} // namespace

void FrmMain::build_ui()
{
    setObjectName(QStringLiteral("frm_main"));
    setWindowTitle(QStringLiteral("RZT-604Д. Тест протокола Modbus"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(ui_font(8.25));

    QAction *settings = menuBar()->addAction(QStringLiteral("&Настройка порта"));
    settings->setObjectName(QStringLiteral("mnu_settings"));
    connect(settings, &QAction::triggered, this, [this] { mnu_settings_Click(); });
    QAction *monitor = menuBar()->addAction(QStringLiteral("&Монитор обмена"));
    monitor->setObjectName(QStringLiteral("mnu_monitor"));
    connect(monitor, &QAction::triggered, this, [this] { mnu_monitor_Click(); });
    QAction *scan = menuBar()->addAction(QStringLiteral("Поиск &устройства"));
    scan->setObjectName(QStringLiteral("mnu_scan"));
    connect(scan, &QAction::triggered, this, [this] { mnu_scan_Click(); });
    build_menus();
    add_about_menu();

    auto *area = new QWidget(this);
    area->setObjectName(QStringLiteral("client_area"));
    area->setFixedSize(9810 / 15, 4755 / 15);
    setCentralWidget(area);
    build_frames(area);
    build_parameters(area);
    build_bottom(area);
    setFixedSize(area->width(), area->height() + menuBar()->sizeHint().height());
}

// Beside the port menu; the window itself does not change for them.
void FrmMain::build_menus()
{
    QMenu *params = menuBar()->addMenu(QStringLiteral("&Параметры"));
    params->setObjectName(QStringLiteral("mnu_params"));
    params->menuAction()->setObjectName(QStringLiteral("mnu_params"));
    struct Item {
        const char *name;
        const char *text;
        QKeySequence keys;
        void (FrmMain::*handler)();
    };
    const Item items[] = {
        {"mnu_par_save", "&Сохранить в файл…", QKeySequence(Qt::CTRL | Qt::Key_S),
         &FrmMain::mnu_par_save_Click},
        {"mnu_par_load", "&Загрузить из файла…", QKeySequence(Qt::CTRL | Qt::Key_O),
         &FrmMain::mnu_par_load_Click},
        {"mnu_par_compare", "Сра&внить с файлом…", {}, &FrmMain::mnu_par_compare_Click},
        {"mnu_report", "&Отчёт…", {}, &FrmMain::mnu_report_Click},
        {"mnu_journal", "&Журнал изменений…", {}, &FrmMain::mnu_journal_Click},
    };
    for (const Item &item : items) {
        QAction *action = params->addAction(QString::fromUtf8(item.text));
        action->setObjectName(QString::fromLatin1(item.name));
        action->setShortcut(item.keys);
        connect(action, &QAction::triggered, this, item.handler);
    }

    QAction *trend = menuBar()->addAction(QStringLiteral("&Тренд"));
    trend->setObjectName(QStringLiteral("mnu_trend"));
    connect(trend, &QAction::triggered, this, &FrmMain::mnu_trend_Click);
}

void FrmMain::build_frames(QWidget *area)
{
    const QString dash = QStringLiteral("-");
    auto *currents = frame(area, "Frame2_0", QStringLiteral("Дифференциальные токи"),
                           twips(240, 240, 6615, 1575));
    label(currents, "lblc_phA_0", field_caption(204), twips(1320, 360, 975, 375), left, 12);
    label(currents, "lblc_PhB_0", field_caption(205), twips(2400, 360, 975, 375), left, 12);
    label(currents, "lblc_phC_0", field_caption(206), twips(3480, 360, 975, 375), left, 12);
    label(currents, "lblc_fr_0", field_caption(207, true), twips(4680, 360, 1695, 375), left, 12);
    label(currents, "lblc_U_1", QStringLiteral("I, А"), twips(600, 960, 855, 375), left, 12);
    m_values[204] = label(currents, "lbl_phAI", dash, twips(1200, 960, 1095, 375), centre, 12);
    m_values[205] = label(currents, "lbl_phBI", dash, twips(2280, 960, 975, 375), centre, 12);
    m_values[206] = label(currents, "lbl_phCI", dash, twips(3360, 960, 1095, 375), centre, 12);
    m_values[207] = label(currents, "lbl_fr", dash, twips(4680, 960, 1455, 375), centre, 12);
    for (int reg : {204, 205, 206, 207})
        describe_value(m_values[reg], currents, field_caption(reg, true));

    auto *ain = frame(area, "Frame2_2", QStringLiteral("AIN"), twips(240, 2160, 2535, 1095));
    label(ain, "lblc_ain_0", QStringLiteral("1"), twips(960, 240, 615, 255), centre, 8.25);
    label(ain, "lblc_ain_1", QStringLiteral("2"), twips(1680, 240, 615, 255), centre, 8.25);
    label(ain, "lblc_U_2", QStringLiteral("U, В"), twips(120, 480, 975, 375), left, 12);
    m_values[208] = label(ain, "lbl_ain_0", dash, twips(720, 480, 1095, 375), centre, 12);
    m_values[209] = label(ain, "lbl_ain_1", dash, twips(1440, 480, 1095, 375), centre, 12);
    describe_value(m_values[208], ain, field_caption(208, true));
    describe_value(m_values[209], ain, field_caption(209, true));
}

void FrmMain::build_parameters(QWidget *area)
{
    struct Row {
        int top;
        int label1;
        int caption_left;
    };
    static const Row rows[par_count] = {
        {480, 3, 7320},   {840, 4, 7320},   {1200, 5, 7320},  {1800, 12, 6960}, {2160, 11, 6960},
        {2520, 10, 6960}, {2880, 15, 6960}, {3240, 14, 6960}, {3600, 0, 6600},
    };
    for (int i = 0; i < par_count; ++i) {
        const Row &row = rows[i];
        // Captions end at 8775, just left of the boxes at 8880.
        const QByteArray name = "Label1_" + QByteArray::number(row.label1);
        label(area, name.constData(), par_caption(i),
              twips(row.caption_left, row.top, 8775 - row.caption_left, 375), right, 9.75);
        auto *edit = new QLineEdit(QStringLiteral("-"), area);
        edit->setObjectName(QStringLiteral("txt_par_%1").arg(i));
        edit->setGeometry(twips(8880, row.top, 735, 375));
        // Named by its caption: read aloud, the box is otherwise just its value.
        edit->setAccessibleName(par_caption(i));
        m_boxes[size_t(i)] = edit;
        connect(edit, &QLineEdit::textChanged, this, [this, i] { txt_par_Change(i); });
        connect(edit, &QLineEdit::returnPressed, this, [this, i] { txt_par_KeyPress(i, 13); });
    }
}

void FrmMain::build_bottom(QWidget *area)
{
    auto *readall = new WrapButton(QStringLiteral("Про&читать всё из ЭСППЗУ"), area);
    readall->setObjectName(QStringLiteral("cmd_readall"));
    readall->setGeometry(twips(4920, 2040, 1695, 735));
    readall->setToolTip(QStringLiteral("Прочитать всё из ЭСППЗУ (F5)"));
    // F5 as well as the button's own Alt key, which setShortcut would replace.
    auto *read_key = new QAction(this);
    read_key->setObjectName(QStringLiteral("key_readall"));
    read_key->setShortcut(QKeySequence(Qt::Key_F5));
    addAction(read_key);
    connect(read_key, &QAction::triggered, readall, &QPushButton::click);
    auto *writeall = new WrapButton(QStringLiteral("&Записать всё в ЭСППЗУ"), area);
    writeall->setObjectName(QStringLiteral("cmd_writeall"));
    writeall->setGeometry(twips(4920, 2880, 1695, 735));
    for (QPushButton *b : {readall, writeall}) {
        b->setFont(ui_font(9.75));
        b->setAutoDefault(false);
    }
    connect(readall, &QPushButton::clicked, this, [this] { cmd_readall_Click(); });
    connect(writeall, &QPushButton::clicked, this, [this] { cmd_writeall_Click(); });

    const QString dash = QStringLiteral("-");
    label(area, "lblc_pr_ver", QStringLiteral("Версия протокола:"), twips(0, 3720, 1935, 255),
          right, 9.75);
    m_values[201] = label(area, "lbl_pr_ver", dash, twips(2040, 3720, 1095, 255), left, 9.75);
    label(area, "lblc_sw_ver", QStringLiteral("Версия ПО:"), twips(3360, 3720, 1335, 255), right,
          9.75);
    m_values[202] = label(area, "lbl_sw_ver", dash, twips(4800, 3720, 1335, 255), left, 9.75);

    auto *line = new QFrame(area);
    line->setObjectName(QStringLiteral("Line4"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setGeometry(0, 4200 / 15, 9480 / 15, 1);

    QLabel *caption = label(area, "lblc_slad", QStringLiteral("Адрес устройства"),
                            twips(120, 4320, 2055, 255), right, 9.75);
    m_cmb_slad = new QComboBox(area);
    // A screen reader on Linux names a drop-down by its label.
    caption->setBuddy(m_cmb_slad);
    m_cmb_slad->setObjectName(QStringLiteral("cmb_slad"));
    m_cmb_slad->setGeometry(twips(2400, 4320, 855, 315));
    m_cmb_slad->setAccessibleName(QStringLiteral("Адрес устройства"));
    // The address goes into every frame built from the next one on.
    connect(m_cmb_slad, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_line.set_address(index); });
    // Runs on to the right edge of the window (designed 5760 wide), so that
    // the exception code at the end of the longest status text stays visible
    // in the fallback fonts, which are wider than the designed one.
    m_lbl_sys_mes = label(area, "lbl_sys_mes", QString(), twips(3480, 4320, 6210, 315), left);

    QWidget *order[] = {m_cmb_slad, m_boxes[0], writeall, readall};
    for (size_t k = 0; k + 1 < std::size(order); ++k)
        setTabOrder(order[k], order[k + 1]);
    setTabOrder(readall, m_boxes[1]);
    for (int i = 1; i + 1 < par_count; ++i)
        setTabOrder(m_boxes[size_t(i)], m_boxes[size_t(i) + 1]);
}
