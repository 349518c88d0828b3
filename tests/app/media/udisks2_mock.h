#pragma once
// A private D-Bus daemon with python-dbusmock standing in for UDisks2 on it.
// Objects are built through the mock's own AddObject/AddProperties/AddMethod
// calls, and its record of calls is read back. Nothing here touches the
// machine's system bus.

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

class Udisks2Mock {
public:
    Udisks2Mock() = default;
    ~Udisks2Mock();
    Udisks2Mock(const Udisks2Mock&) = delete;
    Udisks2Mock& operator=(const Udisks2Mock&) = delete;

    // Why the tools this needs are missing, or empty when they are there.
    static QString missingTools();

    // Starts the bus, then the mock service on it; false (with `error()`) on failure.
    bool startBus();
    bool startService();
    void stopService();
    QString address() const { return address_; }
    QString error() const { return error_; }

    void addObject(const QString& path, const QString& interface, const QVariantMap& properties);
    void addProperties(const QString& path, const QString& interface, const QVariantMap& properties);
    void addMethod(const QString& path, const QString& interface, const QString& name, const QString& inSignature,
                   const QString& pythonCode = {});
    // The argument lists of every call of `method` on `path`, in order.
    QList<QVariantList> calls(const QString& path, const QString& method);

    // Method code that raises the D-Bus error `errorName` for the first `times` calls.
    static QString failing(const QString& method, const QString& errorName, int times);

private:
    bool callMock(const QString& path, const QString& method, const QVariantList& args);

    QProcess bus_;
    QProcess service_;
    QString address_;
    QString error_;
    QString connectionName_;
};
