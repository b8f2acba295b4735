#include "components/errors.h"

EServerError::EServerError(QString message, QString code)
    : Exception(std::move(message))
    , m_code(std::move(code)) {}
