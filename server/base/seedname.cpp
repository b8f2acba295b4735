#include "seedname.h"

using namespace Qt::StringLiterals;

namespace SeedName {

bool Valid(const QString &seed, QString *error, int *companies) {
    int large = 0;
    if (seed == u"large"_s) {
        large = DefaultLargeCompanies;
    } else if (seed.startsWith(u"large:"_s)) {
        bool ok = false;
        large = seed.mid(6).toInt(&ok);
        if (!ok || large < 1 || large > MaxLargeCompanies) {
            *error = u"Semente inválida: %1 (large:N com N de 1 a %2)."_s.arg(seed).arg(
                MaxLargeCompanies);
            return false;
        }
    } else if (seed != u"demo"_s) {
        *error = u"Semente desconhecida: %1 (use demo, large ou large:N)."_s.arg(seed);
        return false;
    }
    if (companies)
        *companies = large;
    return true;
}

} // namespace SeedName
