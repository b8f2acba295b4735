#pragma once

#include <QObject>

#include <functional>
#include <type_traits>
#include <utility>

// The one boundary between event handlers and Qt's event loop. Every handler the user can start
// (click, menu, focus out, page change, show, close) runs through RunGuarded:
//   EAbort                        -> nothing is shown
//   EUserError, EServerError and any other Exception
//                                 -> Host()->MessageDlg(text, mtError, mbOK, 0)
//   any other std::exception      -> Host()->HandleException(error)
//   anything else                 -> Host()->HandleException with a generic text
// Nothing ever escapes into Qt. Returns true when the handler ran to its end.
//
// Calls made from code (TToolButton::Click, TMenuItem::Click, a handler calling another handler)
// are NOT guarded: their failures travel on to the handler that made them, which is itself inside
// a guard. That keeps "abandon the running handler" true across such calls.
bool RunGuarded(const std::function<void()> &handler);

// How many guarded handlers have been abandoned so far. A handler that Qt runs from inside another
// step (a field's exit inside a focus change) cannot return its failure to that step: the step
// compares this count before and after.
int AbandonedHandlers();

// Wraps a callable so that calling it goes through RunGuarded. The wrapper accepts any arguments
// and passes them on only if the callable takes them (so a no-argument lambda can be connected to
// clicked(bool)).
template <class F> auto Guarded(F f) {
    return [f = std::move(f)](auto &&...args) mutable {
        RunGuarded([&] {
            if constexpr (std::is_invocable_v<F &, decltype(args)...>)
                f(std::forward<decltype(args)>(args)...);
            else
                f();
        });
    };
}

// connect() through the guard: GuardedConnect(button, &QAbstractButton::clicked, this, [this] {
// ... }); The lambda may take the signal's arguments or none.
template <class Sender, class Signal, class F>
QMetaObject::Connection GuardedConnect(const Sender *sender, Signal signal, const QObject *context,
                                       F f) {
    return QObject::connect(sender, signal, context, Guarded(std::move(f)));
}
