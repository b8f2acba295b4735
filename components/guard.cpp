#include "components/guard.h"

#include "components/errors.h"
#include "components/hostinterface.h"
#include "dataset/exceptions.h"

#include <QDebug>

using namespace Qt::StringLiterals;

namespace {

// Reporting must never throw either: with no host registered the failure can only be logged.
void ShowError(const QString &text, const QString &details = {}) {
    try {
        if (details.isEmpty())
            Host()->MessageDlg(text, TMsgDlgType::mtError, mbOK, 0);
        else
            Host()->MessageDlgDetalhes(text, details, TMsgDlgType::mtError, mbOK, 0);
    } catch (...) {
        qWarning().noquote() << "unreported failure:" << text;
    }
}

void ReportUnexpected(const std::exception &error) {
    try {
        Host()->HandleException(error);
    } catch (...) {
        qWarning() << "unreported failure:" << error.what();
    }
}

int g_abandoned = 0;

class UnknownFailure final : public std::exception {
public:
    const char *what() const noexcept override { return "Erro desconhecido."; }
};

} // namespace

int AbandonedHandlers() {
    return g_abandoned;
}

bool RunGuarded(const std::function<void()> &handler) {
    try {
        handler();
        return true;
    } catch (const EAbort &) {
    } catch (const EUserError &error) {
        ShowError(error.Message(), error.Details());
    } catch (const Exception &error) {
        ShowError(error.Message());
    } catch (const std::exception &error) {
        ReportUnexpected(error);
    } catch (...) {
        ReportUnexpected(UnknownFailure());
    }
    ++g_abandoned;
    return false;
}
