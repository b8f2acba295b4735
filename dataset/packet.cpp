#include "packet.h"

#include "datetime.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSet>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

int fieldIndex(const TFieldDefs &fields, const QString &name) {
    for (int i = 0; i < fields.size(); ++i) {
        if (fields.at(i).Name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString invalid(const QString &detail) {
    return u"Pacote de dados inválido: %1."_s.arg(detail);
}

bool fail(QString *error, const QString &message) {
    if (error)
        *error = message;
    return false;
}

QString wrongKind(TFieldType type) {
    switch (type) {
    case TFieldType::String:
        return u"era esperado um texto"_s;
    case TFieldType::Date:
        return u"era esperada uma data (texto AAAA-MM-DD)"_s;
    case TFieldType::Integer:
        return u"era esperado um número inteiro"_s;
    case TFieldType::Float:
        return u"era esperado um número"_s;
    }
    return QString();
}

QString tooLong(const QString &text, int size) {
    return u"o texto '%1' tem %2 caracteres e o campo admite %3"_s.arg(text)
        .arg(text.size())
        .arg(size);
}

QString badDate(const QString &text) {
    return u"'%1' não é uma data válida"_s.arg(text);
}

QString notIntegral(double value) {
    return u"'%1' não é um número inteiro"_s.arg(value);
}

bool integralValue(double d) {
    return std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18;
}

QString cellError(qsizetype row, const TFieldDef &def, const QString &detail) {
    return invalid(u"linha %1, campo '%2': %3"_s.arg(row + 1).arg(def.Name, detail));
}

QString rowLengthError(qsizetype row, qsizetype count, qsizetype expected) {
    return invalid(
        u"linha %1 tem %2 valores; eram esperados %3"_s.arg(row + 1).arg(count).arg(expected));
}

// Checks one JSON value against its field; on failure `detail` says what is wrong, without the
// field's name (the callers add where it was found).
bool decodeValue(const TFieldDef &def, const QJsonValue &json, QVariant &out, QString &detail) {
    if (json.isNull()) {
        out = QVariant();
        return true;
    }
    switch (def.DataType) {
    case TFieldType::String: {
        if (!json.isString())
            break;
        QString text = json.toString();
        if (text.size() > def.Size) {
            detail = tooLong(text, def.Size);
            return false;
        }
        out = QVariant(std::move(text));
        return true;
    }
    case TFieldType::Date: {
        if (!json.isString())
            break;
        const QString text = json.toString();
        const std::optional<TDateTime> value = DateTimeUtil::FromIso(text);
        if (!value) {
            detail = badDate(text);
            return false;
        }
        out = QVariant(*value);
        return true;
    }
    case TFieldType::Integer: {
        if (!json.isDouble())
            break;
        const double d = json.toDouble();
        if (!integralValue(d)) {
            detail = notIntegral(d);
            return false;
        }
        out = QVariant(json.toInteger(qint64(d)));
        return true;
    }
    case TFieldType::Float:
        if (!json.isDouble())
            break;
        out = QVariant(json.toDouble());
        return true;
    }
    detail = wrongKind(def.DataType);
    return false;
}

bool decodeFields(const QJsonValue &list, TFieldDefs &fields, QString *error) {
    if (!list.isArray())
        return fail(error, invalid(u"a lista de campos ('fields') está ausente"_s));
    const QJsonArray array = list.toArray();
    fields.reserve(array.size());
    // Names compare without case; a set keeps the check for repeats linear in the field count.
    QSet<QString> seen;
    seen.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonValue item = array.at(i);
        if (!item.isObject())
            return fail(error, invalid(u"a definição do campo %1 não é um objeto"_s.arg(i + 1)));
        const QJsonObject def = item.toObject();
        const QJsonValue name = def.value(QLatin1StringView("name"));
        if (!name.isString() || name.toString().isEmpty())
            return fail(error, invalid(u"o campo %1 não tem nome"_s.arg(i + 1)));
        TFieldDef field;
        field.Name = name.toString();
        const QString folded = field.Name.toCaseFolded();
        if (seen.contains(folded))
            return fail(error, invalid(u"o campo '%1' está repetido"_s.arg(field.Name.left(64))));
        seen.insert(folded);
        const QString type = def.value(QLatin1StringView("type")).toString();
        if (type == "string"_L1) {
            field.DataType = TFieldType::String;
        } else if (type == "date"_L1) {
            field.DataType = TFieldType::Date;
        } else if (type == "integer"_L1) {
            field.DataType = TFieldType::Integer;
        } else if (type == "float"_L1) {
            field.DataType = TFieldType::Float;
        } else {
            return fail(error, invalid(u"o campo '%1' tem o tipo desconhecido '%2'"_s.arg(
                                   field.Name, type)));
        }
        if (field.DataType == TFieldType::String) {
            const QJsonValue size = def.value(QLatin1StringView("size"));
            const double d = size.toDouble(0);
            if (!size.isDouble() || d != std::trunc(d) || d < 1 || d > 1'000'000) {
                return fail(error,
                            invalid(u"o campo de texto '%1' não tem um tamanho positivo"_s.arg(
                                field.Name)));
            }
            field.Size = int(d);
        }
        const QJsonValue required = def.value(QLatin1StringView("required"));
        if (!required.isUndefined()) {
            if (!required.isBool()) {
                return fail(error, invalid(u"o campo '%1' tem 'required' que não é verdadeiro "
                                           u"nem falso"_s.arg(field.Name)));
            }
            field.Required = required.toBool();
        }
        fields.append(std::move(field));
    }
    return true;
}

// `where` names the row for messages, e.g. "linha 3" or "alteração 2 ('original')".
bool decodeRow(const TFieldDefs &fields, const QJsonValue &json, const QString &where,
               TRowValues &row, QString *error) {
    if (!json.isArray())
        return fail(error, invalid(u"%1 não é uma lista de valores"_s.arg(where)));
    const QJsonArray values = json.toArray();
    if (values.size() != fields.size()) {
        return fail(error, invalid(u"%1 tem %2 valores; eram esperados %3"_s.arg(where)
                                       .arg(values.size())
                                       .arg(fields.size())));
    }
    row.resize(fields.size());
    QString detail;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (!decodeValue(fields.at(i), values.at(i), row[i], detail)) {
            return fail(error,
                        invalid(u"%1, campo '%2': %3"_s.arg(where, fields.at(i).Name, detail)));
        }
    }
    return true;
}

QJsonArray fieldsToJsonImpl(const TFieldDefs &fields) {
    QJsonArray array;
    for (const TFieldDef &def : fields) {
        QJsonObject object{{u"name"_s, def.Name}, {u"type"_s, Packet::TypeName(def.DataType)}};
        if (def.DataType == TFieldType::String)
            object.insert(u"size"_s, def.Size);
        if (def.Required)
            object.insert(u"required"_s, true);
        array.append(object);
    }
    return array;
}

QJsonArray rowToJson(const TFieldDefs &fields, const TRowValues &row) {
    QJsonArray array;
    for (qsizetype i = 0; i < fields.size(); ++i)
        array.append(Packet::ValueToJson(fields.at(i), i < row.size() ? row.at(i) : QVariant()));
    return array;
}

// Reads a table packet straight from its bytes into rows, without building a JSON document
// first: the parameter load is dominated by this, and every cell would otherwise be converted
// twice. Syntax is checked as strictly as QJsonDocument does; whatever is not the packet itself
// ("fields" and unknown keys) goes through the generic value reader.
class PacketReader final {
public:
    explicit PacketReader(const QByteArray &bytes)
        : m_begin(bytes.constData())
        , m_p(m_begin)
        , m_end(m_begin + bytes.size()) {}

    // True when the bytes start with an object; otherwise the caller falls back to the document
    // parser, whose message for such input is the better one.
    bool startsWithObject() {
        skipBlanks();
        return m_p < m_end && *m_p == '{';
    }

    bool read(TTablePacket &out, QString *error) {
        TTablePacket packet;
        bool haveFields = false;
        const char *rowsAt = nullptr;
        bool rowsRead = false;
        ++m_p; // '{'
        if (!peek('}')) {
            while (true) {
                QString key;
                if (!peek('"'))
                    return syntax(error, "nome de chave esperado");
                if (!readString(key) || !expect(':'))
                    return syntax(error);
                if (key == "fields"_L1 && !haveFields) {
                    QJsonValue list;
                    if (!readValue(list, 0))
                        return syntax(error);
                    if (!decodeFields(list, packet.Fields, error))
                        return false;
                    haveFields = true;
                } else if (key == "rows"_L1 && !rowsAt) {
                    rowsAt = m_p;
                    skipBlanks();
                    if (haveFields) {
                        if (!readRows(packet, error))
                            return false;
                        rowsRead = true;
                    } else {
                        QJsonValue ignored;
                        if (!readValue(ignored, 0))
                            return syntax(error);
                    }
                } else if (key == "fields"_L1 || key == "rows"_L1) {
                    return fail(error, invalid(u"a chave '%1' está repetida"_s.arg(key)));
                } else {
                    QJsonValue ignored;
                    if (!readValue(ignored, 0))
                        return syntax(error);
                }
                if (peek(','))
                    ++m_p;
                else if (peek('}'))
                    break;
                else
                    return syntax(error, "',' ou '}' esperado");
            }
        }
        ++m_p; // '}'
        skipBlanks();
        if (m_p != m_end)
            return syntax(error, "conteúdo após o fim do objeto");
        if (!haveFields)
            return fail(error, invalid(u"a lista de campos ('fields') está ausente"_s));
        if (!rowsAt)
            return fail(error, invalid(u"a lista de linhas ('rows') está ausente"_s));
        if (!rowsRead) {
            // The rows came before the field list: read them again now that it is known.
            m_p = rowsAt;
            skipBlanks();
            if (!readRows(packet, error))
                return false;
        }
        out = std::move(packet);
        return true;
    }

private:
    bool readRows(TTablePacket &packet, QString *error) {
        if (!peek('['))
            return fail(error, invalid(u"a lista de linhas ('rows') está ausente"_s));
        ++m_p;
        const TFieldDefs &fields = packet.Fields;
        const qsizetype width = fields.size();
        // A row is at least "[]," and a cell at least "0,", which bounds the reservation.
        packet.Rows.reserve(std::max<qsizetype>(1, (m_end - m_p) / (2 * width + 3)));
        if (peek(']')) {
            ++m_p;
            return true;
        }
        QString detail;
        for (qsizetype r = 0;; ++r) {
            if (!peek('['))
                return m_p < m_end && isValueStart(*m_p)
                           ? fail(error,
                                  invalid(u"linha %1 não é uma lista de valores"_s.arg(r + 1)))
                           : syntax(error, "lista esperada");
            ++m_p;
            TRowValues row(width);
            QVariant *cells = row.data();
            qsizetype count = 0;
            if (!peek(']')) {
                while (true) {
                    if (count < width) {
                        if (!readCell(fields.at(count), cells[count], detail)) {
                            if (m_syntax)
                                return syntax(error);
                            return fail(error, cellError(r, fields.at(count), detail));
                        }
                    } else {
                        QJsonValue extra;
                        if (!readValue(extra, 0))
                            return syntax(error);
                    }
                    ++count;
                    if (peek(','))
                        ++m_p;
                    else if (peek(']'))
                        break;
                    else
                        return syntax(error, "',' ou ']' esperado");
                }
            }
            ++m_p; // ']'
            if (count != width)
                return fail(error, rowLengthError(r, count, width));
            packet.Rows.append(std::move(row));
            if (peek(',')) {
                ++m_p;
            } else if (peek(']')) {
                ++m_p;
                return true;
            } else {
                return syntax(error, "',' ou ']' esperado");
            }
        }
    }

    // One value of a row, converted for its field. False with m_syntax set for bad JSON, or
    // with `detail` saying why a well-formed value does not fit the field.
    bool readCell(const TFieldDef &def, QVariant &out, QString &detail) {
        skipBlanks();
        if (m_p >= m_end)
            return setSyntax("valor esperado");
        const char c = *m_p;
        if (c == 'n') {
            if (!readWord("null"))
                return false;
            out = QVariant();
            return true;
        }
        switch (def.DataType) {
        case TFieldType::String:
            if (c != '"')
                break;
            {
                QString text;
                if (!readString(text))
                    return false;
                if (text.size() > def.Size) {
                    detail = tooLong(text, def.Size);
                    return false;
                }
                out = QVariant(std::move(text));
                return true;
            }
        case TFieldType::Date:
            if (c != '"')
                break;
            {
                const char *start = m_p + 1;
                const char *stop = start;
                while (stop < m_end && *stop >= 0x20 && *stop != '"' && *stop != '\\' &&
                       uchar(*stop) < 0x80)
                    ++stop;
                std::optional<TDateTime> value;
                QString text;
                if (stop < m_end && *stop == '"') {
                    // Plain ASCII: no copy needed to read the date.
                    value = DateTimeUtil::FromIso(QLatin1StringView(start, stop - start));
                    m_p = stop + 1;
                    if (!value)
                        text = QString::fromLatin1(start, stop - start);
                } else {
                    if (!readString(text))
                        return false;
                    value = DateTimeUtil::FromIso(text);
                }
                if (!value) {
                    detail = badDate(text);
                    return false;
                }
                out = QVariant(*value);
                return true;
            }
        case TFieldType::Integer:
        case TFieldType::Float:
            if (c != '-' && (c < '0' || c > '9'))
                break;
            {
                double d = 0;
                qint64 i = 0;
                bool integral = false;
                if (!readNumber(d, i, integral))
                    return false;
                if (def.DataType == TFieldType::Float) {
                    out = QVariant(d);
                } else if (integral) {
                    out = QVariant(i);
                } else if (integralValue(d)) {
                    out = QVariant(qint64(d));
                } else {
                    detail = notIntegral(d);
                    return false;
                }
                return true;
            }
        }
        if (!isValueStart(c))
            return setSyntax("valor esperado");
        detail = wrongKind(def.DataType);
        return false;
    }

    // Generic JSON value, for the field list and for keys this reader does not know.
    bool readValue(QJsonValue &out, int depth) {
        if (depth > 256)
            return setSyntax("aninhamento excessivo");
        skipBlanks();
        if (m_p >= m_end)
            return setSyntax("valor esperado");
        switch (*m_p) {
        case '{': {
            ++m_p;
            QJsonObject object;
            if (peek('}')) {
                ++m_p;
                out = object;
                return true;
            }
            while (true) {
                QString key;
                QJsonValue value;
                if (!peek('"'))
                    return setSyntax("nome de chave esperado");
                if (!readString(key) || !expect(':') || !readValue(value, depth + 1))
                    return false;
                object.insert(key, value);
                if (peek(','))
                    ++m_p;
                else if (peek('}'))
                    break;
                else
                    return setSyntax("',' ou '}' esperado");
            }
            ++m_p;
            out = object;
            return true;
        }
        case '[': {
            ++m_p;
            QJsonArray array;
            if (peek(']')) {
                ++m_p;
                out = array;
                return true;
            }
            while (true) {
                QJsonValue value;
                if (!readValue(value, depth + 1))
                    return false;
                array.append(value);
                if (peek(','))
                    ++m_p;
                else if (peek(']'))
                    break;
                else
                    return setSyntax("',' ou ']' esperado");
            }
            ++m_p;
            out = array;
            return true;
        }
        case '"': {
            QString text;
            if (!readString(text))
                return false;
            out = text;
            return true;
        }
        case 't':
            out = true;
            return readWord("true");
        case 'f':
            out = false;
            return readWord("false");
        case 'n':
            out = QJsonValue(QJsonValue::Null);
            return readWord("null");
        default: {
            double d = 0;
            qint64 i = 0;
            bool integral = false;
            if (!readNumber(d, i, integral))
                return false;
            out = integral ? QJsonValue(i) : QJsonValue(d);
            return true;
        }
        }
    }

    bool readWord(const char *word) {
        const qsizetype n = qsizetype(std::strlen(word));
        if (m_end - m_p < n || std::memcmp(m_p, word, size_t(n)) != 0)
            return setSyntax("valor inválido");
        m_p += n;
        return true;
    }

    bool readNumber(double &d, qint64 &i, bool &integral) {
        const char *start = m_p;
        auto digit = [this] {
            return m_p < m_end && *m_p >= '0' && *m_p <= '9';
        };
        if (m_p < m_end && *m_p == '-')
            ++m_p;
        if (m_p < m_end && *m_p == '0') {
            ++m_p;
        } else if (digit()) {
            while (digit())
                ++m_p;
        } else {
            return setSyntax("número inválido");
        }
        integral = true;
        if (m_p < m_end && *m_p == '.') {
            integral = false;
            ++m_p;
            if (!digit())
                return setSyntax("número inválido");
            while (digit())
                ++m_p;
        }
        if (m_p < m_end && (*m_p == 'e' || *m_p == 'E')) {
            integral = false;
            ++m_p;
            if (m_p < m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            if (!digit())
                return setSyntax("número inválido");
            while (digit())
                ++m_p;
        }
        if (integral) {
            const auto [end, ec] = std::from_chars(start, m_p, i);
            if (ec == std::errc() && end == m_p) {
                d = double(i);
                return true;
            }
            integral = false;
        }
        const auto [end, ec] = std::from_chars(start, m_p, d);
        if (end != m_p || (ec != std::errc() && ec != std::errc::result_out_of_range))
            return setSyntax("número inválido");
        if (!std::isfinite(d))
            return setSyntax("número fora do intervalo");
        return true;
    }

    bool readString(QString &out) {
        ++m_p; // '"'
        const char *start = m_p;
        bool ascii = true;
        bool escaped = false;
        while (m_p < m_end && *m_p != '"') {
            const uchar c = uchar(*m_p);
            if (c < 0x20)
                return setSyntax("caractere de controle em texto");
            if (c == '\\') {
                escaped = true;
                m_p += 2;
                continue;
            }
            if (c >= 0x80)
                ascii = false;
            ++m_p;
        }
        if (m_p >= m_end)
            return setSyntax("texto não terminado");
        const char *stop = m_p++;
        if (!escaped) {
            if (stop - start == 1)
                out = singleAscii(uchar(*start));
            else if (ascii)
                out = QString::fromLatin1(start, stop - start);
            else if (validUtf8(start, stop))
                out = QString::fromUtf8(start, stop - start);
            else
                return setSyntax("UTF-8 inválido");
            return true;
        }
        QByteArray utf8;
        utf8.reserve(stop - start);
        for (const char *q = start; q < stop; ++q) {
            if (*q != '\\') {
                utf8.append(*q);
                continue;
            }
            ++q;
            switch (*q) {
            case '"':
            case '\\':
            case '/':
                utf8.append(*q);
                break;
            case 'b':
                utf8.append('\b');
                break;
            case 'f':
                utf8.append('\f');
                break;
            case 'n':
                utf8.append('\n');
                break;
            case 'r':
                utf8.append('\r');
                break;
            case 't':
                utf8.append('\t');
                break;
            case 'u': {
                char32_t code = 0;
                if (!hex4(q + 1, stop, code))
                    return setSyntax("escape \\u inválido");
                q += 4;
                if (code >= 0xD800 && code <= 0xDBFF) {
                    char32_t low = 0;
                    if (q + 2 >= stop || q[1] != '\\' || q[2] != 'u' || !hex4(q + 3, stop, low) ||
                        low < 0xDC00 || low > 0xDFFF)
                        return setSyntax("par substituto incompleto");
                    q += 6;
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code <= 0xDFFF) {
                    return setSyntax("par substituto incompleto");
                }
                const QString one = QString::fromUcs4(&code, 1);
                utf8.append(one.toUtf8());
                break;
            }
            default:
                return setSyntax("escape inválido");
            }
        }
        if (!validUtf8(utf8.constData(), utf8.constData() + utf8.size()))
            return setSyntax("UTF-8 inválido");
        out = QString::fromUtf8(utf8);
        return true;
    }

    // Flags are one-letter texts: sharing one string per letter spares an allocation per cell.
    static QString singleAscii(uchar c) {
        static const std::array<QString, 128> letters = [] {
            std::array<QString, 128> all;
            for (int i = 0; i < 128; ++i)
                all[size_t(i)] = QString(QChar(i));
            return all;
        }();
        return c < 128 ? letters[c] : QString::fromUtf8(reinterpret_cast<const char *>(&c), 1);
    }

    static bool hex4(const char *q, const char *stop, char32_t &code) {
        if (stop - q < 4)
            return false;
        code = 0;
        for (int k = 0; k < 4; ++k) {
            const char h = q[k];
            code <<= 4;
            if (h >= '0' && h <= '9')
                code |= char32_t(h - '0');
            else if (h >= 'a' && h <= 'f')
                code |= char32_t(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                code |= char32_t(h - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    static bool validUtf8(const char *p, const char *end) {
        while (p < end) {
            const uchar c = uchar(*p);
            int extra = 0;
            char32_t code = 0;
            if (c < 0x80) {
                ++p;
                continue;
            } else if ((c & 0xE0) == 0xC0) {
                extra = 1;
                code = c & 0x1F;
            } else if ((c & 0xF0) == 0xE0) {
                extra = 2;
                code = c & 0x0F;
            } else if ((c & 0xF8) == 0xF0) {
                extra = 3;
                code = c & 0x07;
            } else {
                return false;
            }
            if (end - p <= extra)
                return false;
            for (int k = 1; k <= extra; ++k) {
                const uchar next = uchar(p[k]);
                if ((next & 0xC0) != 0x80)
                    return false;
                code = (code << 6) | (next & 0x3F);
            }
            static constexpr char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
            if (code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                return false;
            p += extra + 1;
        }
        return true;
    }

    static bool isValueStart(char c) {
        return c == '{' || c == '[' || c == '"' || c == 't' || c == 'f' || c == 'n' || c == '-' ||
               (c >= '0' && c <= '9');
    }

    void skipBlanks() {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }

    bool peek(char c) {
        skipBlanks();
        return m_p < m_end && *m_p == c;
    }

    bool expect(char c) {
        if (peek(c)) {
            ++m_p;
            return true;
        }
        return setSyntax(c == ':' ? "':' esperado" : "caractere inesperado");
    }

    bool setSyntax(const char *what) {
        if (!m_syntax) {
            m_syntax = what;
            m_syntaxAt = std::min(m_p, m_end) - m_begin;
        }
        return false;
    }

    bool syntax(QString *error, const char *what = nullptr) {
        if (what)
            setSyntax(what);
        return fail(error,
                    invalid(u"JSON malformado na posição %1 (%2)"_s.arg(m_syntaxAt)
                                .arg(QString::fromUtf8(m_syntax ? m_syntax : "erro de sintaxe"))));
    }

    const char *m_begin;
    const char *m_p;
    const char *m_end;
    const char *m_syntax = nullptr;
    qsizetype m_syntaxAt = 0;
};

} // namespace

int TTablePacket::FieldIndex(const QString &name) const {
    return fieldIndex(Fields, name);
}

int TChangeLog::FieldIndex(const QString &name) const {
    return fieldIndex(Fields, name);
}

namespace Packet {

QString TypeName(TFieldType type) {
    switch (type) {
    case TFieldType::String:
        return u"string"_s;
    case TFieldType::Date:
        return u"date"_s;
    case TFieldType::Integer:
        return u"integer"_s;
    case TFieldType::Float:
        return u"float"_s;
    }
    return QString();
}

QJsonValue ValueToJson(const TFieldDef &def, const QVariant &value) {
    if (!value.isValid() || value.isNull())
        return QJsonValue(QJsonValue::Null);
    switch (def.DataType) {
    case TFieldType::String:
        return value.toString();
    case TFieldType::Date:
        return DateTimeUtil::ToIso(value.toDouble());
    case TFieldType::Integer:
        return value.toLongLong();
    case TFieldType::Float:
        return value.toDouble();
    }
    return QJsonValue(QJsonValue::Null);
}

bool ValueFromJson(const TFieldDef &def, const QJsonValue &json, QVariant &out, QString *error) {
    QString detail;
    QVariant value;
    if (!decodeValue(def, json, value, detail))
        return fail(error, u"Valor inválido para o campo '%1': %2."_s.arg(def.Name, detail));
    out = std::move(value);
    return true;
}

QJsonArray FieldsToJson(const TFieldDefs &fields) {
    return fieldsToJsonImpl(fields);
}

QJsonObject ToJson(const TTablePacket &packet) {
    QJsonArray rows;
    for (const TRowValues &row : packet.Rows)
        rows.append(rowToJson(packet.Fields, row));
    return QJsonObject{{u"fields"_s, FieldsToJson(packet.Fields)}, {u"rows"_s, rows}};
}

QJsonObject ToJson(const TChangeLog &log) {
    QJsonArray changes;
    for (const TChange &change : log.Changes) {
        QJsonObject object;
        switch (change.Op) {
        case TChangeOp::Insert:
            object.insert(u"op"_s, u"insert"_s);
            object.insert(u"values"_s, rowToJson(log.Fields, change.Values));
            break;
        case TChangeOp::Update:
            object.insert(u"op"_s, u"update"_s);
            object.insert(u"original"_s, rowToJson(log.Fields, change.Original));
            object.insert(u"values"_s, rowToJson(log.Fields, change.Values));
            break;
        case TChangeOp::Delete:
            object.insert(u"op"_s, u"delete"_s);
            object.insert(u"original"_s, rowToJson(log.Fields, change.Original));
            break;
        }
        changes.append(object);
    }
    return QJsonObject{{u"fields"_s, FieldsToJson(log.Fields)}, {u"changes"_s, changes}};
}

QByteArray ToBytes(const TTablePacket &packet) {
    return QJsonDocument(ToJson(packet)).toJson(QJsonDocument::Compact);
}

bool FromJson(const QJsonValue &json, TTablePacket &out, QString *error) {
    if (!json.isObject())
        return fail(error, invalid(u"o pacote não é um objeto"_s));
    const QJsonObject object = json.toObject();
    TTablePacket packet;
    if (!decodeFields(object.value(QLatin1StringView("fields")), packet.Fields, error))
        return false;
    const QJsonValue rowsValue = object.value(QLatin1StringView("rows"));
    if (!rowsValue.isArray())
        return fail(error, invalid(u"a lista de linhas ('rows') está ausente"_s));
    const QJsonArray rows = rowsValue.toArray();
    const qsizetype width = packet.Fields.size();
    packet.Rows.resize(rows.size());
    QString detail;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const QJsonValue row = rows.at(r);
        if (!row.isArray())
            return fail(error, invalid(u"linha %1 não é uma lista de valores"_s.arg(r + 1)));
        const QJsonArray values = row.toArray();
        if (values.size() != width)
            return fail(error, rowLengthError(r, values.size(), width));
        TRowValues &target = packet.Rows[r];
        target.resize(width);
        for (qsizetype f = 0; f < width; ++f) {
            if (!decodeValue(packet.Fields.at(f), values.at(f), target[f], detail))
                return fail(error, cellError(r, packet.Fields.at(f), detail));
        }
    }
    out = std::move(packet);
    return true;
}

bool FromJson(const QJsonValue &json, TChangeLog &out, QString *error) {
    if (!json.isObject())
        return fail(error, invalid(u"o registro de alterações não é um objeto"_s));
    const QJsonObject object = json.toObject();
    TChangeLog log;
    if (!decodeFields(object.value(QLatin1StringView("fields")), log.Fields, error))
        return false;
    const QJsonValue changesValue = object.value(QLatin1StringView("changes"));
    if (!changesValue.isArray())
        return fail(error, invalid(u"a lista de alterações ('changes') está ausente"_s));
    const QJsonArray changes = changesValue.toArray();
    log.Changes.resize(changes.size());
    for (qsizetype c = 0; c < changes.size(); ++c) {
        const QString where = u"alteração %1"_s.arg(c + 1);
        const QJsonValue item = changes.at(c);
        if (!item.isObject())
            return fail(error, invalid(u"%1 não é um objeto"_s.arg(where)));
        const QJsonObject change = item.toObject();
        const QString op = change.value(QLatin1StringView("op")).toString();
        TChange &target = log.Changes[c];
        bool needOriginal = false;
        bool needValues = false;
        if (op == "insert"_L1) {
            target.Op = TChangeOp::Insert;
            needValues = true;
        } else if (op == "update"_L1) {
            target.Op = TChangeOp::Update;
            needOriginal = needValues = true;
        } else if (op == "delete"_L1) {
            target.Op = TChangeOp::Delete;
            needOriginal = true;
        } else {
            return fail(error, invalid(u"%1 tem a operação desconhecida '%2'"_s.arg(where, op)));
        }
        if (needOriginal) {
            const QJsonValue original = change.value(QLatin1StringView("original"));
            if (original.isUndefined())
                return fail(error, invalid(u"%1 não tem 'original'"_s.arg(where)));
            if (!decodeRow(log.Fields, original, where + u" ('original')"_s, target.Original,
                           error))
                return false;
        }
        if (needValues) {
            const QJsonValue values = change.value(QLatin1StringView("values"));
            if (values.isUndefined())
                return fail(error, invalid(u"%1 não tem 'values'"_s.arg(where)));
            if (!decodeRow(log.Fields, values, where + u" ('values')"_s, target.Values, error))
                return false;
        }
    }
    out = std::move(log);
    return true;
}

bool FromBytes(const QByteArray &bytes, TTablePacket &out, QString *error) {
    PacketReader reader(bytes);
    if (reader.startsWithObject())
        return reader.read(out, error);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return fail(error, invalid(u"JSON malformado na posição %1 (%2)"_s.arg(parseError.offset)
                                       .arg(parseError.errorString())));
    }
    if (!document.isObject())
        return fail(error, invalid(u"o pacote não é um objeto"_s));
    return FromJson(document.object(), out, error);
}

} // namespace Packet
