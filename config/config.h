#pragma once
// The configuration file "тп.ini" (see config_path()): the serial port
// number ("PC config"/"COM") and the last confirmed slave address
// ("VRE config"/"MBSLAD", written only).

#include <QString>

#include <cstdint>
#include <optional>

// What the configuration routines need from the main window.
class ConfigView {
public:
    virtual ~ConfigView() = default;
    // Sets the status line and repaints it at once.
    virtual void show_status_now(const QString &text) = 0;
    // Selected index of the slave-address list, -1 when none.
    virtual int selected_address() const = 0;
    // Modal box with the stop icon and Retry/Cancel; true for Retry.
    virtual bool ask_retry(const QString &title, const QString &text) = 0;
};

// Where "тп.ini" lives: beside the executable when it is there already (a
// portable folder, writable or not); else beside the executable when that
// folder is writable and no system one (/usr, /opt; Windows' Program Files);
// else in the user's folder, ~/.config/rzt604-modbus ($XDG_CONFIG_HOME) or
// %APPDATA%\rzt604-modbus, which is created here. The program and rzt604-cli
// both ask this.
QString config_path();
// The same rule for a given program folder.
QString config_path_for(const QString &program_dir);
// The user's folder of the last case, where a program with no folder of its
// own keeps тп.ini.
QString user_config_folder();

// Profile-file access. Missing file, section or key gives the default; at
// most 254 characters are returned. A write changes or adds one key and
// leaves every other line alone; CR and LF in the value become blanks.
// The file is replaced as a whole or not at all; false when the write was
// refused (read-only file or folder) or failed (full disk), the old file then
// being left exactly as it was. Reads of an unchanged file come from memory.
QString read_ini_string(const QString &file, const QString &section, const QString &key,
                        const QString &def);
bool write_ini_string(const QString &file, const QString &section, const QString &key,
                      const QString &value);

// Why the file at path cannot be read as a configuration file, in words
// that name it: not readable, not a regular file (a folder, a pipe, a
// device), a symbolic link that leads nowhere or round in a circle, too
// large, or not text (UTF-16, binary). Empty when it is a readable text file or missing.
QString ini_file_problem(const QString &path);

// "PC config"/"COM" as read_config takes it: a whole number 1..255 in
// decimal digits; 1 when the file or key is missing. None, with why set
// (naming the file and the value) when given, for any other text.
std::optional<uint8_t> configured_port_number(const QString &path, QString *why = nullptr);

// Sets com_port to 1, then to the configured number; creates the file when
// it is missing. Always returns; failures, a file that cannot be read among
// them, are handled with a Retry/Cancel box that names what is wrong.
void read_config(const QString &path, uint8_t &com_port, ConfigView &view);
void save_config(const QString &path, uint8_t com_port, ConfigView &view);
