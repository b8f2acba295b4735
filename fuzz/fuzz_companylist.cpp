// The company list of the bulk methods and the single company code.
#include "companylist.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    CompanyList list;
    QString error;
    if (CompanyList::Parse(text, list, &error)) {
        // What is written back parses to itself.
        CompanyList again;
        if (!CompanyList::Parse(list.Normalised(), again, &error) ||
            again.Normalised() != list.Normalised())
            std::abort();
    } else if (error.isEmpty() || error.size() > 200) {
        std::abort(); // a refusal says why, and quotes no more than a few characters
    }
    QString code;
    error.clear();
    if (!CompanyList::ParseCode(text, code, &error) && (error.isEmpty() || error.size() > 200))
        std::abort();
    return 0;
}
