#pragma once
// Events on forms. A component publishes its events (OnConnected, OnDataIn
// ...) beside its properties; a form names a handler for each event the user
// set ("OnDataIn = ServerDataIn"). In the designer a handler is only a name
// kept with the component; a program that reads the form binds each name to a
// callable it registered for its form class.

#include <QHash>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <any>
#include <functional>
#include <typeinfo>

namespace design {

// What a handler of an event with parameters P is: handler(Sender, Params).
template <class P>
using EventHandlerOf = std::function<void(QObject* Sender, P& Params)>;

// Implemented by components whose events a form can name. The names come
// from the class (PublishedEvents below); the types need an instance.
class TEventPublisher {
public:
    virtual ~TEventPublisher() = default;
    // The type of handler `event` takes (EventHandlerOf<its Params>), or
    // typeid(void) when the component has no such event.
    virtual const std::type_info& EventHandlerType(const QString& event) const = 0;
    // Assigns a handler held as that type; an empty value clears the event.
    // False (nothing assigned) for an unknown event or a handler of another type.
    virtual bool AssignEventHandler(const QString& event, const std::any& handler) = 0;
};

// For generated components: the one assignment every event does.
template <class Slot>
bool assignEventSlot(Slot& slot, const std::any& handler)
{
    if (!handler.has_value()) {
        slot = nullptr;
        return true;
    }
    const Slot* typed = std::any_cast<Slot>(&handler);
    if (typed == nullptr) return false;
    slot = *typed;
    return true;
}

// The events a class publishes, in the order of its event numbers, as its
// class info "PublishedEvents" lists them; empty for a class without events.
QStringList PublishedEvents(const QMetaObject* meta);

// The handler names the designer keeps with a component, by event.
QString EventHandlerName(const QObject* component, const QString& event);
// Sets or (empty name) clears the handler of `event`; raises EConvertError
// for an event the component does not publish or a name that is not an
// identifier.
void SetEventHandlerName(QObject* component, const QString& event, const QString& handler);
// The handler names a component holds, in the order of its events.
QList<QPair<QString, QString>> EventHandlerNames(const QObject* component);

// The handlers a program offers to the forms of one form class, by name.
// Member functions of the form class are bound to the form being read.
class TFormHandlers {
public:
    template <class Form, class P>
    void add(const QString& name, void (Form::*method)(QObject*, P&))
    {
        entries_.insert(name, Entry{&typeid(EventHandlerOf<P>), [method](QObject* form) -> std::any {
                                        auto* self = dynamic_cast<Form*>(form);
                                        if (self == nullptr) return {};
                                        return EventHandlerOf<P>(
                                            [self, method](QObject* sender, P& params) { (self->*method)(sender, params); });
                                    }});
    }
    // Any callable of (QObject* Sender, P& Params).
    template <class F>
    void add(const QString& name, F callable)
    {
        addHandler(name, std::function(std::move(callable)));
    }

    bool contains(const QString& name) const { return entries_.contains(name); }
    QStringList names() const { return entries_.keys(); }
    void clear() { entries_.clear(); }

    // The type the handler `name` has (typeid of EventHandlerOf<P>), and the
    // handler itself bound to `form` (empty when `form` is not of the class
    // the member function belongs to).
    const std::type_info& type(const QString& name) const;
    std::any bind(const QString& name, QObject* form) const;

private:
    template <class P>
    void addHandler(const QString& name, EventHandlerOf<P> handler)
    {
        entries_.insert(name, Entry{&typeid(EventHandlerOf<P>), [handler](QObject*) -> std::any { return handler; }});
    }

    struct Entry {
        const std::type_info* type;
        std::function<std::any(QObject* form)> bind;
    };
    QHash<QString, Entry> entries_;
};

// The program's registry: the handlers of each form class (its unqualified
// class name), filled before the first form of that class is read.
TFormHandlers& FormHandlers(const QString& formClass);

}  // namespace design

Q_DECLARE_INTERFACE(design::TEventPublisher, "org.brindle.design.TEventPublisher/1.0")
