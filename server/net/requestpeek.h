#pragma once

#include <QJsonValue>
#include <QString>
#include <QStringView>

// What the I/O thread needs of a request it will not run (its connection is over its limit of
// calls): the id to answer with and the method, found in one pass over the text without building
// anything of it, so that a flood of such requests costs no more than reading them.
struct RequestPeek {
    QJsonValue Id{QJsonValue::Undefined}; // undefined: the request has none (a notification)
    QString Method;                       // empty when absent, not a plain string, or long
    bool Object = true; // false: the text is not a JSON object as far as the pass went

    // Looks at the top-level members only; nested values are skipped, not read. An id that is
    // not a short number or string is taken as null.
    static RequestPeek Read(QStringView text);
};
