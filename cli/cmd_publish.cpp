// publish: what each controller on the line says, into an MQTT broker, for
// as long as it runs:
//   PREFIX/ADDRESS/measurement  a JSON object per good reply (time, the read --json keys)
//   PREFIX/ADDRESS/parameters   retained: the parameter file, once all nine are read
//                               and again whenever one of them changes
//   PREFIX/ADDRESS/status       retained: "online" while the controller answers,
//                               "offline" when it stops, when the port is lost, when
//                               the publisher ends, and as the will when it dies
// Each address has a publisher (a connection) of its own, as MQTT keeps one
// will a connection.

#include "cli_line.h"
#include "commands.h"
#include "mqtt_publisher.h"
#include "param_file.h"

#include <QDateTime>
#include <QEventLoop>
#include <QJsonDocument>
#include <QSysInfo>
#include <QTimer>

#include <algorithm>
#include <map>
#include <memory>

namespace {

QString topic_prefix(const CliArgs &args)
{
    return args.topic.isEmpty() ? QStringLiteral("rzt604/") + QSysInfo::machineHostName()
                                : args.topic;
}

// The longest topic of the run, checked whole: a prefix that fits alone may
// leave no room for the address and the leaf.
QString topic_error(const CliArgs &args)
{
    const int widest = *std::max_element(args.addresses.begin(), args.addresses.end());
    const QString longest =
        QStringLiteral("%1/%2/measurement").arg(topic_prefix(args), QString::number(widest));
    const qsizetype over = longest.toUtf8().size() - 65535;
    if (over > 0)
        return QStringLiteral("--topic: с адресом и /measurement тема длиннее 65535 байт, "
                              "предела MQTT; сократите начало тем на %1 байт")
            .arg(over);
    const QString why = mqtt_topic_error(longest);
    return why.isEmpty() ? why : QStringLiteral("--topic: ") + why;
}

struct Controller {
    std::unique_ptr<MqttPublisher> publisher;
    ParKnown published{}; // the values last published
    bool online = false;
};

class Publication {
public:
    Publication(CliLine &cli, const CliArgs &args)
        : m_cli(cli), m_args(args), m_prefix(topic_prefix(args))
    {
    }

    void start()
    {
        for (int a : m_args.addresses) {
            MqttSettings s = m_args.mqtt;
            if (m_args.addresses.size() > 1)
                s.client_id += QStringLiteral("-%1").arg(a);
            auto p = std::make_unique<MqttPublisher>(s);
            p->set_will(topic(a, "status"), "offline", true);
            QObject::connect(p.get(), &MqttPublisher::notice, [this](const QString &text) {
                // Every publisher meets the same broker: say each thing once.
                if (text != m_last_notice)
                    note(text);
                m_last_notice = text;
            });
            // Retrying cannot mend a refused login: the run ends.
            QObject::connect(p.get(), &MqttPublisher::refused, [this] {
                m_refused = true;
                m_cli.stop();
            });
            p->start();
            m_controllers[a].publisher = std::move(p);
        }
    }

    void measured(const Measurement &m)
    {
        auto it = m_controllers.find(m.address);
        if (it == m_controllers.end())
            return;
        Controller &c = it->second;
        QJsonObject o = measurement_json(m);
        o.insert(QLatin1String("time"), iso_local_time(m.time_ms, true));
        if (m_args.addresses.size() > 1)
            o.insert(QLatin1String("address"), m.address);
        c.publisher->publish(topic(m.address, "measurement"),
                             QJsonDocument(o).toJson(QJsonDocument::Compact), false);
        set_online(m.address, true);
        m_cli.progress(m.address);
    }

    // What the controller's model holds, once all nine are known and
    // whenever one of them changes.
    void parameters(const ControllerModel &model)
    {
        auto it = m_controllers.find(model.address());
        if (it == m_controllers.end() || !model.all_held())
            return;
        Controller &c = it->second;
        m_cli.progress(model.address());
        const ParKnown held = model.held_all();
        if (held == c.published)
            return;
        c.published = held;
        ParamFile file;
        for (int i = 0; i < par_count; ++i)
            file.raws[size_t(i)] = *held[size_t(i)];
        file.saved = QDateTime::currentDateTime();
        file.address = model.address() <= 127 ? model.address() : -1;
        if (const auto versions = model.versions()) {
            file.protocol = versions->first;
            file.software = versions->second;
        }
        c.publisher->publish(topic(model.address(), "parameters"),
                             param_file_json(m_cli.line().table(), file), true);
    }

    void set_online(int address, bool online)
    {
        Controller &c = m_controllers.at(address);
        if (c.online == online)
            return;
        c.online = online;
        c.publisher->publish(topic(address, "status"), online ? "online" : "offline", true);
    }

    void all_offline()
    {
        for (auto &[address, c] : m_controllers)
            set_online(address, false);
    }

    bool refused() const { return m_refused; }

    // The retained status says offline, then each publisher says goodbye so
    // that the broker does not publish the will on top of it. The exit
    // status: a refusal, or a broker never reached or owed messages.
    int finish()
    {
        for (auto &[address, c] : m_controllers) {
            c.online = true;
            set_online(address, false);
        }
        QEventLoop loop;
        int running = int(m_controllers.size());
        for (auto &[address, c] : m_controllers) {
            QObject::connect(c.publisher.get(), &MqttPublisher::stopped, &loop, [&] {
                if (--running == 0)
                    loop.quit();
            });
            c.publisher->stop();
        }
        if (running > 0)
            loop.exec();
        bool reached = true;
        int undelivered = 0;
        for (auto &[address, c] : m_controllers) {
            reached = reached && c.publisher->ever_connected();
            undelivered += c.publisher->undelivered();
        }
        if (m_refused)
            return exit_refused;
        if (!reached)
            return fail(exit_undelivered, QStringLiteral("брокер %1 так и не был доступен; "
                                                         "ничего не опубликовано")
                                              .arg(m_args.mqtt.url));
        return undelivered > 0 ? exit_undelivered : exit_ok;
    }

private:
    QString topic(int address, const char *leaf) const
    {
        return QStringLiteral("%1/%2/%3")
            .arg(m_prefix, QString::number(address), QLatin1String(leaf));
    }

    CliLine &m_cli;
    const CliArgs &m_args;
    QString m_prefix;
    QString m_last_notice;
    bool m_refused = false;
    std::map<int, Controller> m_controllers;
};

} // namespace

int run_publish(const CliArgs &args)
{
    if (args.mqtt.url.isEmpty())
        usage_error(QStringLiteral("publish: нужен --mqtt mqtt://УЗЕЛ[:ПОРТ]"));
    if (const QString why = topic_error(args); !why.isEmpty())
        usage_error(why);
    CliLine cli;
    if (const int code = cli.open(args))
        return code;
    Line &line = cli.line();
    Publication pub(cli, args);
    pub.start();
    for (int a : args.addresses) {
        ControllerModel &model = line.controller(a);
        QObject::connect(&model, &ControllerModel::measured,
                         [&](const Measurement &m) { pub.measured(m); });
        QObject::connect(&model, &ControllerModel::parameter_changed,
                         [&pub, &model] { pub.parameters(model); });
    }
    QObject::connect(&line, &Line::port_lost, [&] { pub.all_offline(); });
    // Back after a loss, perhaps onto other controllers: read them again.
    QObject::connect(&line, &Line::changed, [&](LineChange) {
        for (int a : args.addresses)
            line.read_all(a);
    });
    cli.answering = [&](int address, bool answering) {
        if (!answering)
            pub.set_online(address, false);
    };
    // Each controller's versions first, for its parameter file; then its reads.
    for (int a : args.addresses) {
        line.ask_measurement(a);
        line.read_all(a);
    }
    const bool several = args.addresses.size() > 1;
    line.set_polling(true, several ? std::vector<int>(args.addresses.begin(), args.addresses.end())
                                   : std::vector<int>{});
    QObject owner;
    if (args.duration_ms >= 0)
        QTimer::singleShot(args.duration_ms, &owner, [&cli] { cli.stop(); });
    cli.keep_waiting();
    if (!pub.refused())
        cli.run([] { return false; });
    return pub.finish();
}
