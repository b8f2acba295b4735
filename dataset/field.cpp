#include "field.h"

#include "clientdataset.h"
#include "exceptions.h"

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

QString floatText(double value) {
    // The suite shows numbers the Brazilian way.
    return QString::number(value, 'g', 15).replace(u'.', u',');
}

std::optional<double> parseFloat(QString text) {
    text = text.trimmed();
    if (text.contains(u'.') && text.contains(u','))
        return std::nullopt;
    text.replace(u',', u'.');
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// "dd/mm/yyyy", optionally followed by " hh:nn:ss", or the wire form.
std::optional<TDateTime> parseDateText(const QString &text) {
    if (text.size() == 19 && text.at(10) == u' ') {
        const std::optional<TDateTime> day = DateTimeUtil::ParseDate(text.left(10));
        const std::optional<TDateTime> iso = DateTimeUtil::FromIso(u"2000-01-01T"_s + text.mid(11));
        if (!day || !iso)
            return std::nullopt;
        return *day + (*iso - DateTimeUtil::Trunc(*iso));
    }
    if (const std::optional<TDateTime> day = DateTimeUtil::ParseDate(text))
        return day;
    return DateTimeUtil::FromIso(text);
}

QString notADate(const QString &text) {
    return u"'%1' não é uma data válida."_s.arg(text);
}

bool isNumeric(const QVariant &value) {
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

bool isIntegral(const QVariant &value) {
    return isNumeric(value) && value.typeId() != QMetaType::Double &&
           value.typeId() != QMetaType::Float;
}

[[noreturn]] void wrongKind(const TFieldDef &def, const QVariant &value) {
    throw EDatabaseError(u"Valor do tipo '%1' não serve para o campo '%2'."_s.arg(
        QString::fromLatin1(value.typeName()), def.Name));
}

} // namespace

TField::TField(TClientDataSet *dataSet, int index, TFieldDef def)
    : m_dataSet(dataSet)
    , m_index(index)
    , m_def(std::move(def)) {}

QVariant TField::Coerce(const TFieldDef &def, const QVariant &value) {
    if (!value.isValid() || value.isNull())
        return QVariant();
    const bool isText = value.typeId() == QMetaType::QString;
    switch (def.DataType) {
    case TFieldType::String: {
        if (!isText && !isNumeric(value))
            wrongKind(def, value);
        QString text = value.toString();
        if (text.size() > def.Size) {
            throw EDatabaseError(u"O texto '%1' excede o tamanho do campo '%2' (%3 caracteres)."_s
                                     .arg(text, def.Name)
                                     .arg(def.Size));
        }
        return QVariant(std::move(text));
    }
    case TFieldType::Date: {
        if (value.typeId() == QMetaType::QDate)
            return QVariant(DateTimeUtil::FromQDate(value.toDate()));
        if (value.typeId() == QMetaType::QDateTime)
            return QVariant(DateTimeUtil::FromQDateTime(value.toDateTime()));
        if (isText) {
            const QString text = value.toString();
            if (text.isEmpty())
                return QVariant();
            if (const std::optional<TDateTime> date = parseDateText(text))
                return QVariant(*date);
            throw EConvertError(notADate(text));
        }
        if (isNumeric(value))
            return QVariant(value.toDouble());
        wrongKind(def, value);
    }
    case TFieldType::Integer: {
        if (isIntegral(value))
            return QVariant(value.toLongLong());
        if (isNumeric(value)) {
            const double d = value.toDouble();
            if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18)
                return QVariant(qint64(d));
            throw EConvertError(u"'%1' não é um valor inteiro válido."_s.arg(floatText(d)));
        }
        if (isText) {
            const QString text = value.toString();
            if (text.isEmpty())
                return QVariant();
            bool ok = false;
            const qint64 number = text.toLongLong(&ok);
            if (!ok)
                throw EConvertError(u"'%1' não é um valor inteiro válido."_s.arg(text));
            return QVariant(number);
        }
        wrongKind(def, value);
    }
    case TFieldType::Float: {
        if (isNumeric(value))
            return QVariant(value.toDouble());
        if (isText) {
            const QString text = value.toString();
            if (text.isEmpty())
                return QVariant();
            if (const std::optional<double> number = parseFloat(text))
                return QVariant(*number);
            throw EConvertError(u"'%1' não é um valor numérico válido."_s.arg(text));
        }
        wrongKind(def, value);
    }
    }
    wrongKind(def, value);
}

bool TField::IsNull() const {
    const QVariant &value = m_dataSet->CurrentValues().value(m_index);
    return !value.isValid() || value.isNull();
}

void TField::Clear() {
    SetValue(QVariant());
}

QVariant TField::Value() const {
    return m_dataSet->CurrentValues().value(m_index);
}

void TField::SetValue(const QVariant &value) {
    m_dataSet->SetFieldValue(m_index, value);
}

QString TField::AsString() const {
    const QVariant value = Value();
    if (!value.isValid() || value.isNull())
        return QString();
    switch (m_def.DataType) {
    case TFieldType::String:
        return value.toString();
    case TFieldType::Date: {
        const TDateTime date = value.toDouble();
        if (DateTimeUtil::HasTimeOfDay(date))
            return DateTimeUtil::Format(date, u"dd/mm/yyyy hh:nn:ss"_s);
        return DateTimeUtil::FormatDate(date);
    }
    case TFieldType::Integer:
        return QString::number(value.toLongLong());
    case TFieldType::Float:
        return floatText(value.toDouble());
    }
    return QString();
}

void TField::SetAsString(const QString &text) {
    if (text.isEmpty()) {
        Clear();
        return;
    }
    SetValue(QVariant(text));
}

TDateTime TField::AsDateTime() const {
    const QVariant value = Value();
    if (!value.isValid() || value.isNull())
        return 0;
    if (m_def.DataType == TFieldType::String) {
        const QString text = value.toString();
        if (text.isEmpty())
            return 0;
        if (const std::optional<TDateTime> date = parseDateText(text))
            return *date;
        throw EConvertError(notADate(text));
    }
    return value.toDouble();
}

void TField::SetAsDateTime(TDateTime value) {
    switch (m_def.DataType) {
    case TFieldType::String:
        SetValue(QVariant(DateTimeUtil::FormatDate(value)));
        return;
    case TFieldType::Integer:
        SetValue(QVariant(qint64(std::floor(value))));
        return;
    case TFieldType::Date:
    case TFieldType::Float:
        SetValue(QVariant(value));
        return;
    }
}

qint64 TField::AsInteger() const {
    const QVariant value = Value();
    if (!value.isValid() || value.isNull())
        return 0;
    switch (m_def.DataType) {
    case TFieldType::Integer:
        return value.toLongLong();
    case TFieldType::Float:
        return std::llround(value.toDouble());
    case TFieldType::Date:
        return qint64(std::floor(value.toDouble()));
    case TFieldType::String: {
        const QString text = value.toString();
        if (text.isEmpty())
            return 0;
        bool ok = false;
        const qint64 number = text.trimmed().toLongLong(&ok);
        if (!ok)
            throw EConvertError(u"'%1' não é um valor inteiro válido."_s.arg(text));
        return number;
    }
    }
    return 0;
}

void TField::SetAsInteger(qint64 value) {
    SetValue(QVariant(value));
}

double TField::AsFloat() const {
    const QVariant value = Value();
    if (!value.isValid() || value.isNull())
        return 0;
    if (m_def.DataType == TFieldType::String) {
        const QString text = value.toString();
        if (text.isEmpty())
            return 0;
        if (const std::optional<double> number = parseFloat(text))
            return *number;
        throw EConvertError(u"'%1' não é um valor numérico válido."_s.arg(text));
    }
    return value.toDouble();
}

void TField::SetAsFloat(double value) {
    SetValue(QVariant(value));
}

QString TField::DefaultText() const {
    return AsString();
}

QString TField::DisplayText() const {
    QString text = DefaultText();
    if (OnGetText)
        OnGetText(const_cast<TField &>(*this), text, true);
    return text;
}

QString TField::Text() const {
    QString text = DefaultText();
    if (OnGetText)
        OnGetText(const_cast<TField &>(*this), text, false);
    return text;
}
