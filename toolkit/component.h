#pragma once
// The toolkit's non-visual component: a QObject with an owner, a name and a
// state that says whether it lives in a designer or is being read from a form.
// Published properties are Q_PROPERTYs; those marked STORED travel with the
// form (see form_stream.h).

#include <QObject>
#include <QString>

namespace toolkit {

class TComponent : public QObject {
    Q_OBJECT

public:
    enum StateFlag {
        csLoading = 0x1,    // stored values are being applied by the form reader
        csDesigning = 0x2,  // created by a designer host, not by the running program
    };
    Q_DECLARE_FLAGS(ComponentState, StateFlag)
    Q_FLAG(ComponentState)

    // The owner destroys its components (QObject parenthood); nullptr for none.
    explicit TComponent(QObject* owner = nullptr);
    ~TComponent() override;

    QObject* owner() const { return parent(); }
    QString name() const { return objectName(); }
    void setName(const QString& name) { setObjectName(name); }

    ComponentState componentState() const { return state_; }
    bool designing() const { return state_.testFlag(csDesigning); }
    void setDesigning(bool on) { setStateFlag(csDesigning, on); }

    // The form reader brackets its writes with these; loaded() runs once all
    // stored values are in, so a component can act on the final set.
    void beginLoading() { setStateFlag(csLoading, true); }
    void endLoading();

protected:
    virtual void loaded() {}

private:
    void setStateFlag(StateFlag flag, bool on);

    ComponentState state_;
};

}  // namespace toolkit

Q_DECLARE_OPERATORS_FOR_FLAGS(toolkit::TComponent::ComponentState)
