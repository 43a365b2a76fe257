#include "krvt5/TableExpression.h"

#include "krvt5/Failure.h"

namespace krvt5 {

namespace {

bool isIdentifierStart(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
}

bool isIdentifierChar(QChar c)
{
    return isIdentifierStart(c) || (c >= u'0' && c <= u'9');
}

bool isKeyword(const QString& word)
{
    for (const auto* keyword : {"WHERE", "AND", "LIMIT"}) {
        if (word.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

class Parser {
public:
    explicit Parser(const QString& text) : text_(text) {}

    TableExpression parse()
    {
        TableExpression expression;
        expression.table = identifier();
        if (keyword("WHERE")) {
            do {
                TableExpression::Condition condition;
                condition.column = identifier();
                skipBlanks();
                expect(u'=');
                condition.value = integer(true);
                expression.where.push_back(condition);
            } while (keyword("AND"));
        }
        if (keyword("LIMIT"))
            expression.limit = integer(false);
        skipBlanks();
        if (pos_ != text_.size())
            fail();
        return expression;
    }

private:
    [[noreturn]] void fail() const
    {
        throw Failure(QStringLiteral("Expresión de tabla no válida: \"%1\". Se espera una tabla, "
                                     "opcionalmente WHERE columna=entero [AND columna=entero]... "
                                     "y LIMIT n.")
                          .arg(text_));
    }

    void skipBlanks()
    {
        while (pos_ < text_.size() && text_[pos_].isSpace())
            ++pos_;
    }

    QString word()
    {
        skipBlanks();
        const qsizetype start = pos_;
        if (pos_ < text_.size() && isIdentifierStart(text_[pos_])) {
            while (pos_ < text_.size() && isIdentifierChar(text_[pos_]))
                ++pos_;
        }
        return text_.mid(start, pos_ - start);
    }

    QString identifier()
    {
        const QString name = word();
        if (name.isEmpty() || isKeyword(name))
            fail();
        return name;
    }

    // Consumes the keyword when it comes next; a keyword must be preceded by a blank.
    bool keyword(const char* expected)
    {
        const qsizetype saved = pos_;
        skipBlanks();
        const bool blankBefore = pos_ > saved;
        const QString next = word();
        if (blankBefore && next.compare(QLatin1String(expected), Qt::CaseInsensitive) == 0)
            return true;
        pos_ = saved;
        return false;
    }

    void expect(QChar c)
    {
        if (pos_ >= text_.size() || text_[pos_] != c)
            fail();
        ++pos_;
    }

    qint64 integer(bool allowMinus)
    {
        skipBlanks();
        const qsizetype start = pos_;
        if (allowMinus && pos_ < text_.size() && text_[pos_] == u'-')
            ++pos_;
        const qsizetype digits = pos_;
        while (pos_ < text_.size() && text_[pos_] >= u'0' && text_[pos_] <= u'9')
            ++pos_;
        if (pos_ == digits)
            fail();
        // A digit glued to a letter ("5x") is not an integer.
        if (pos_ < text_.size() && isIdentifierChar(text_[pos_]))
            fail();
        bool ok = false;
        const qint64 value = text_.mid(start, pos_ - start).toLongLong(&ok);
        if (!ok)
            fail();
        return value;
    }

    const QString& text_;
    qsizetype pos_ = 0;
};

} // namespace

TableExpression TableExpression::parse(const QString& text)
{
    return Parser(text).parse();
}

} // namespace krvt5
