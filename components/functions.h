#pragma once

// Helper functions every screen uses: failures, codes, dates, enabling, busy indicator, cursor,
// the host's context values and the company list dialog.

#include "components/application.h"
#include "dataset/datetime.h"
#include "rpc/envelope.h"

#include <QJsonValue>
#include <QString>
#include <QStringList>

class QObject;
class QWidget;
class TClientDataSet;
class TDataSource;

// True for empty text or text of blanks only.
bool EmptyString(const QString &text);

// Shows `text` as an error and abandons the running handler: throws EUserError, which the guard
// around the handler turns into an error box. Never returns, whatever `abandon` says (every
// caller passes true; false is accepted and behaves the same).
[[noreturn]] void MensErro(const QString &text, bool abandon = true);

// Payload of a successful envelope. A failed envelope throws EServerError with the server's message
// (report=true). With report=false a failure returns a null value instead of throwing. `index`
// picks an element when the payload is an array and index > 0; 0 returns the whole payload.
QJsonValue CheckResultServ(const TResultEnvelope &result, bool report = true, int index = 0);
// The check of CheckResultServ alone, for callers that read the payload from the reply themselves
// (TResultEnvelope::PayloadPacket) and want no tree made of it.
void CheckResultOk(const TResultEnvelope &result);

// The code in its fixed width: trimmed; a code of digits only is left-padded with zeros to
// `width` ("1" -> "01"); anything else is returned trimmed ("A" -> "A"). Never cuts a code.
QString Ajusta(const QString &code, int width);

TDateTime PriDiaMes(TDateTime date);    // first day of the date's month, no time of day
TDateTime UltimoDiaMes(TDateTime date); // last day of the date's month, no time of day

// Enables or disables every control inside `container` (not the container itself).
void SetChildEnabled(QWidget *container, bool enabled);

// Busy indicator over the host's main window. kind 6 while loading, 1 while saving/applying.
// DeactiveShowAvi is harmless when nothing is shown. Prefer BusyGuard (busyguard.h) so the
// indicator is hidden on every path.
void ActiveShowAvi(QWidget *mainForm, int kind, const QString &text = {});
void DeactiveShowAvi();

// The host's context values and services.
QString WebURL();
int WebPort();
QString Operador();
void AtualizaLocalCache(const QStringList &tables);

// The application object: the owner of screens (see application.h).
TApplication *Application();

// Mouse cursor. SetCursorHourglass pushes the wait cursor; SetCursorDefault pops every override
// cursor, so one call restores the normal cursor whatever was pushed before.
void SetCursorHourglass();
void SetCursorDefault();

// Fills each "%s" of `text`, in order, with the next element of `args`. Inserted text is never
// re-scanned (a "%s" inside an argument stays as it is). Missing arguments leave their "%s";
// extra arguments are ignored. "%%" gives "%".
QString Format(const QString &text, const QStringList &args);

// Modal multi-choice list over the rows of `source` (see pesquisalistadialog.h): check boxes,
// columns code (`keyField`) and name (the first other visible string field), "Todas"/"Nenhuma",
// OK/Cancelar. `titleAndEmpty` is "Title|message for an empty list".
//  - an empty (or closed and unopenable) source: MensErro(empty message), list untouched;
//  - the codes already in `list` ("01,02") are ticked when the dialog opens;
//  - OK writes the ticked codes, in row order, as "01,03" (comma, no blanks; "" for none) and
//    returns true; Cancelar leaves `list` as it was and returns false.
// `flag` is reserved (callers pass false); it changes nothing. An inactive query is opened first.
// The table behind a search, opened if closed; MensErro(emptyMessage) when the source has no
// table or the table no rows.
TClientDataSet &OpenSearchTable(TDataSource *source, const QString &emptyMessage);

bool PesquisaLista(TDataSource *source, const QString &keyField, const QString &titleAndEmpty,
                   bool flag, QString &list);
