// The component form reader under arbitrary text. A form it accepts is written
// again and must read back to the same form: the reader and the writer agree
// on every value form (booleans, numbers, enumerations, flags, quoted texts).
#include "toolkit/component.h"
#include "toolkit/exceptions.h"
#include "toolkit/form_stream.h"

#include <QCoreApplication>

#include <cstdint>
#include <memory>

#define FUZZ_CHECK(cond) do { if (!(cond)) __builtin_trap(); } while (0)

class Dial : public toolkit::TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Active MEMBER active_ STORED true)
    Q_PROPERTY(int Level MEMBER level_ STORED true)
    Q_PROPERTY(uint Count MEMBER count_ STORED true)
    Q_PROPERTY(qlonglong Total MEMBER total_ STORED true)
    Q_PROPERTY(short Small MEMBER small_ STORED true)
    Q_PROPERTY(QString Caption MEMBER caption_ STORED true)
    Q_PROPERTY(QByteArray Bytes MEMBER bytes_ STORED true)
    Q_PROPERTY(Mode Mode MEMBER mode_ STORED true)
    Q_PROPERTY(Options Options READ options WRITE setOptions STORED true)
    Q_PROPERTY(int Scratch MEMBER scratch_ STORED false)

public:
    enum Mode { modeOff, modeOn, modeAuto = 7 };
    Q_ENUM(Mode)
    enum Option { optA = 1, optB = 2, optC = 8 };
    Q_DECLARE_FLAGS(Options, Option)
    Q_FLAG(Options)

    explicit Dial(QObject* owner = nullptr) : TComponent(owner) {}
    Options options() const { return options_; }
    void setOptions(Options o) { options_ = o; }

private:
    bool active_ = true;
    int level_ = 5;
    uint count_ = 0;
    qlonglong total_ = -1;
    short small_ = 0;
    QString caption_ = QStringLiteral("dial");
    QByteArray bytes_;
    Mode mode_ = modeOn;
    Options options_ = optA;
    int scratch_ = 0;
};

namespace {

QString roundTrip(const QString& text)
{
    QObject owner;
    const QList<toolkit::TComponent*> made = toolkit::readForm(text, &owner);
    QList<const toolkit::TComponent*> parts;
    for (const toolkit::TComponent* c : made) parts << c;
    return toolkit::writeForm(parts);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool registered = [] {
        static int argc = 1;
        static char name[] = "fuzz_form_stream";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);
        toolkit::registerComponentClass<Dial>();
        return true;
    }();
    (void)registered;

    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QString written;
    try {
        written = roundTrip(text);
    } catch (const toolkit::Exception&) {
        return 0;  // refused with a message: fine
    }
    // What the writer wrote, the reader reads; and it writes the same again.
    FUZZ_CHECK(roundTrip(written) == written);
    return 0;
}

#include "form_stream_fuzzer.moc"
