#include "udisks2_mock.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QStandardPaths>
#include <QTest>

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kMockInterface = QStringLiteral("org.freedesktop.DBus.Mock");

// The mock's method description (name, in and out signatures, code), as AddObject takes it.
struct MockMethod {
    QString name, in, out, code;
};

QDBusArgument& operator<<(QDBusArgument& arg, const MockMethod& m)
{
    arg.beginStructure();
    arg << m.name << m.in << m.out << m.code;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MockMethod& m)
{
    arg.beginStructure();
    arg >> m.name >> m.in >> m.out >> m.code;
    arg.endStructure();
    return arg;
}

}  // namespace

Q_DECLARE_METATYPE(MockMethod)

// The Debian package installs dbusmock for the system's interpreter, which a
// developer's own python3 on PATH may not see.
static QString pythonWithDbusmock()
{
    static const QString found = [] {
        for (const QString& python : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
            QProcess probe;
            probe.start(python, {QStringLiteral("-c"), QStringLiteral("import dbusmock")});
            if (probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
                return python;
        }
        return QString();
    }();
    return found;
}

QString Udisks2Mock::missingTools()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) return QStringLiteral("dbus-daemon");
    if (pythonWithDbusmock().isEmpty()) return QStringLiteral("python3-dbusmock");
    return {};
}

Udisks2Mock::~Udisks2Mock()
{
    stopService();
    if (!connectionName_.isEmpty()) QDBusConnection::disconnectFromBus(connectionName_);
    if (bus_.state() != QProcess::NotRunning) {
        bus_.terminate();
        if (!bus_.waitForFinished(5000)) bus_.kill();
        bus_.waitForFinished(5000);
    }
}

bool Udisks2Mock::startBus()
{
    qDBusRegisterMetaType<MockMethod>();
    qDBusRegisterMetaType<QList<MockMethod>>();
    qDBusRegisterMetaType<QList<QByteArray>>();
    bus_.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!bus_.waitForStarted(10000)) {
        error_ = QStringLiteral("dbus-daemon did not start");
        return false;
    }
    while (!bus_.canReadLine())
        if (!bus_.waitForReadyRead(20000)) {
            error_ = QStringLiteral("dbus-daemon printed no address");
            return false;
        }
    address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    connectionName_ = QStringLiteral("udisks2-mock-control");
    if (!QDBusConnection::connectToBus(address_, connectionName_).isConnected()) {
        error_ = QStringLiteral("cannot connect to the private bus at ") + address_;
        return false;
    }
    return true;
}

bool Udisks2Mock::startService()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
    service_.setProcessEnvironment(env);
    service_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service_.start(pythonWithDbusmock(), {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                                          QStringLiteral("-m"), kService, QStringLiteral("/org/freedesktop/UDisks2"),
                                          QStringLiteral("org.freedesktop.DBus.ObjectManager")});
    auto* names = QDBusConnection(connectionName_).interface();
    const bool up = QTest::qWaitFor(
        [&] { return names->isServiceRegistered(kService).value() || service_.state() == QProcess::NotRunning; },
        30000);
    if (!up || !names->isServiceRegistered(kService).value()) {
        error_ = QStringLiteral("the mock service did not come up");
        return false;
    }
    return true;
}

void Udisks2Mock::stopService()
{
    if (service_.state() == QProcess::NotRunning) return;
    service_.terminate();
    if (!service_.waitForFinished(10000)) service_.kill();
    service_.waitForFinished(5000);
    if (connectionName_.isEmpty()) return;
    auto* names = QDBusConnection(connectionName_).interface();
    // A mock that lingers only makes the next start fail loudly.
    (void)QTest::qWaitFor([&] { return !names->isServiceRegistered(kService).value(); }, 10000);
}

bool Udisks2Mock::callMock(const QString& path, const QString& method, const QVariantList& args)
{
    QDBusMessage request = QDBusMessage::createMethodCall(kService, path, kMockInterface, method);
    request.setArguments(args);
    const QDBusMessage reply = QDBusConnection(connectionName_).call(request, QDBus::Block, 20000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        error_ = method + QStringLiteral(": ") + reply.errorMessage();
        return false;
    }
    return true;
}

void Udisks2Mock::addObject(const QString& path, const QString& interface, const QVariantMap& properties)
{
    callMock(QStringLiteral("/org/freedesktop/UDisks2"), QStringLiteral("AddObject"),
             {path, interface, properties, QVariant::fromValue(QList<MockMethod>{})});
}

void Udisks2Mock::addProperties(const QString& path, const QString& interface, const QVariantMap& properties)
{
    callMock(path, QStringLiteral("AddProperties"), {interface, properties});
}

void Udisks2Mock::addMethod(const QString& path, const QString& interface, const QString& name,
                            const QString& inSignature, const QString& pythonCode)
{
    callMock(path, QStringLiteral("AddMethod"), {interface, name, inSignature, QString(), pythonCode});
}

QList<QVariantList> Udisks2Mock::calls(const QString& path, const QString& method)
{
    QDBusMessage request =
        QDBusMessage::createMethodCall(kService, path, kMockInterface, QStringLiteral("GetMethodCalls"));
    request << method;
    const QDBusMessage reply = QDBusConnection(connectionName_).call(request, QDBus::Block, 20000);
    QList<QVariantList> out;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return out;
    const auto arg = reply.arguments().first().value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        qulonglong stamp = 0;
        QVariantList args;
        arg.beginStructure();
        arg >> stamp >> args;
        arg.endStructure();
        out << args;
    }
    arg.endArray();
    return out;
}

QString Udisks2Mock::failing(const QString& method, const QString& errorName, int times)
{
    return QStringLiteral(
               "n = getattr(self, 'tries_%1', 0) + 1\n"
               "self.tries_%1 = n\n"
               "if n <= %2:\n"
               "    raise dbus.exceptions.DBusException('%1 refused (%3)', name='%3')\n")
        .arg(method)
        .arg(times)
        .arg(errorName);
}
