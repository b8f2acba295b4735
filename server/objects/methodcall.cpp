#include "methodcall.h"

#include "database.h"
#include "rules/controlchars.h"

#include <algorithm>
#include <exception>

using namespace Qt::StringLiterals;

namespace MethodCall {

namespace {

QString kindName(Arg kind) {
    return kind == Arg::Text ? u"texto"_s : u"objeto (pacote)"_s;
}

} // namespace

std::optional<JsonRpc::Error> CheckParams(const QString &method, const QJsonArray &params,
                                          const QVector<Arg> &expected) {
    if (params.size() != expected.size()) {
        return JsonRpc::Error{JsonRpc::InvalidParams,
                              u"%1 espera %2 argumento(s), recebeu %3."_s.arg(method)
                                  .arg(expected.size())
                                  .arg(params.size())};
    }
    for (qsizetype i = 0; i < params.size(); ++i) {
        const bool fits =
            expected.at(i) == Arg::Text ? params.at(i).isString() : params.at(i).isObject();
        if (!fits) {
            return JsonRpc::Error{JsonRpc::InvalidParams,
                                  u"%1: o argumento %2 deve ser %3."_s.arg(method).arg(i + 1).arg(
                                      kindName(expected.at(i)))};
        }
    }
    return std::nullopt;
}

bool HasControlCharacter(QStringView text) {
    return ControlChars::Contains(text);
}

TResultEnvelope Guard(const std::function<TResultEnvelope()> &body) {
    try {
        return body();
    } catch (const CallFailure &failure) {
        return TResultEnvelope::Failure(failure.Code, failure.Message);
    } catch (const std::exception &e) {
        return TResultEnvelope::Failure(
            u"internal"_s, u"Erro interno do servidor: %1"_s.arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
        return TResultEnvelope::Failure(u"internal"_s, u"Erro interno do servidor."_s);
    }
}

} // namespace MethodCall
