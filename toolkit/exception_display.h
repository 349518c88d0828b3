#pragma once
// The application's standard exception display: an exception that escapes an
// event handler is shown in an error box and the program carries on.

#include <QObject>

#include <exception>
#include <type_traits>
#include <utility>

class QWidget;

namespace toolkit {

// Shows the exception's message (toolkit::Exception text, or what()) as an error box.
void showException(const std::exception& e, QWidget* parent = nullptr);

// Runs `handler`, showing whatever toolkit or standard exception escapes it.
template <class F>
void runGuarded(F&& handler, QWidget* parent = nullptr)
{
    try {
        std::forward<F>(handler)();
    } catch (const std::exception& e) {
        showException(e, parent);
    }
}

// connect() whose slot runs through runGuarded; every window handler is bound this way.
template <class Sender, class Signal, class Handler>
QMetaObject::Connection connectGuarded(Sender* sender, Signal signal, QWidget* context, Handler handler)
{
    return QObject::connect(sender, signal, context, [context, handler](auto&&... args) {
        runGuarded(
            [&] {
                // Handlers may ignore the signal's arguments (clicked(bool) -> void()).
                if constexpr (std::is_invocable_v<const Handler&, decltype(args)...>)
                    handler(args...);
                else
                    handler();
            },
            context);
    });
}

}  // namespace toolkit
