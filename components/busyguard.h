#pragma once

#include <QString>

class QWidget;

// Shows the host's busy indicator for the lifetime of the guard, so it is hidden on every path,
// also when a failure travels on:
//   BusyGuard busy(Host()->MainForm(), 6);
//   ... server call ...
class BusyGuard final {
public:
    BusyGuard(QWidget *mainForm, int kind, const QString &text = {});
    ~BusyGuard();
    BusyGuard(const BusyGuard &) = delete;
    BusyGuard &operator=(const BusyGuard &) = delete;

    void Release(); // hide now; the destructor then does nothing

private:
    bool m_active = true;
};

// Hourglass cursor for the lifetime of the guard; the destructor restores the default cursor
// (SetCursorDefault: every override popped).
class CursorGuard final {
public:
    CursorGuard();
    ~CursorGuard();
    CursorGuard(const CursorGuard &) = delete;
    CursorGuard &operator=(const CursorGuard &) = delete;
};
