#pragma once
// rzt604-modbus --demo: the bundled simulator on a pseudo-terminal and a
// тп.ini of this run only, in a temporary folder that also takes the journal
// of the demonstration's writes. The user's own тп.ini and journal are never
// read or written; the folder and the simulator go when the session does.

#include <QString>

#include <memory>

class QProcess;
class QTemporaryDir;

class DemoSession {
public:
    DemoSession();
    // Ends the simulator and removes the folder.
    ~DemoSession();

    // rzt604-sim beside the program, else in the installation's libexec or
    // bin folder; empty when none is found.
    static QString find_simulator(const QString &program_dir);

    // Starts the simulator found from program_dir and writes the run's
    // тп.ini; false with why (in the operator's words) when it cannot.
    bool start(const QString &program_dir, QString *why);

    // The тп.ini the window is to use; valid after start().
    QString config_path() const;
    // The simulator's process id, 0 when it is not running.
    qint64 simulator_pid() const;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_sim;
};
