#pragma once
// The tool's client component (ws/) for the package's real-engine tests, kept
// in its own unit: the tool's CorvaneWS names and the package's cannot meet in
// one source file.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace pkgtest {

class ToolClient {
public:
    // The tool's binding opens `engineFile` by name (no embedded image here).
    explicit ToolClient(const QString& engineFile);
    ~ToolClient();

    void connectTo(const QString& url);  // accepts any server certificate
    void sendText(const QString& text);
    bool connected() const;
    QStringList received() const;  // texts of the messages, in order
    QStringList errors() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace pkgtest
