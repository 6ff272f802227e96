#include "operator_guide.h"

#include <QDir>
#include <QFileInfo>

QString operator_guide_path(const QString &program_dir)
{
    // Installed: /usr/bin/../share/doc/rzt604-modbus; the Windows folder;
    // build/bin or build/tests in the source tree.
    const QStringList places = {QStringLiteral("/../share/doc/rzt604-modbus/operator.md"),
                                QStringLiteral("/docs/operator.md"),
                                QStringLiteral("/../../docs/operator.md")};
    for (const QString &place : places) {
        const QFileInfo file(QDir::cleanPath(program_dir + place));
        if (file.isFile())
            return file.absoluteFilePath();
    }
    return {};
}

QString operator_guide_text(const QString &path)
{
    const QString where =
        path.isEmpty()
            ? QStringLiteral("Руководство оператора (operator.md) не найдено рядом с программой. "
                             "Оно устанавливается с пакетом в /usr/share/doc/rzt604-modbus, "
                             "лежит в папке docs исходных текстов и упомянуто в README проекта.")
            : QStringLiteral("Руководство оператора не открылось: в системе нет программы для "
                             "файлов .md. Откройте его в любом текстовом редакторе: %1")
                  .arg(QDir::toNativeSeparators(path));
    return where +
           QStringLiteral("\n\nГлавные клавиши:\n"
                          "F5 — прочитать всё из ЭСППЗУ\n"
                          "Enter в поле параметра — записать этот параметр\n"
                          "Ctrl+S, Ctrl+O — сохранить параметры в файл, загрузить из файла\n"
                          "Alt и подчёркнутая буква — пункт меню или кнопка\n"
                          "F1 — руководство, Ctrl+Q — выход");
}
